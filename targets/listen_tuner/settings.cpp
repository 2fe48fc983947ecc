#include "app/target_settings.h"

#ifndef TUNER_HOST
#define TUNER_HOST "listen.tuner.test"
#endif

const TargetSettings& Target() {
  static const TargetSettings settings{
      .site = {.host = TUNER_HOST,
               .numberMarker = "<td class=\"c1\"><a href=\"/listen/",
               .numberTerminator = '/',
               .songPagePath = "listen/",
               .songUrlPath = "/listen/"},
      .textColour = 15,
      .backColour = 4,
      .printsConnectingNotice = true,
      .wideConsoleText = true,
      .logoKind = LogoKind::AnimatedBase128,
      .logoPlacementFactor = 1.1,
      .logoWindowExStyle = 0x02000000,  // WS_EX_COMPOSITED
  };
  return settings;
}
