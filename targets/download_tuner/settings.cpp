#include "app/target_settings.h"

#ifndef TUNER_HOST
#define TUNER_HOST "download.tuner.test"
#endif

const TargetSettings& Target() {
  static const TargetSettings settings{
      .site = {.host = TUNER_HOST,
               .numberMarker = "<a class=\"date\" href=\"/remix/",
               .numberTerminator = '"',
               .songPagePath = "download.php/",
               .songUrlPath = "/download.php/"},
      .textColour = 15,
      .backColour = 5,
      .printsConnectingNotice = false,
      .wideConsoleText = false,
      .logoKind = LogoKind::StillBase64,
      .logoPlacementFactor = 1.15,
      .logoWindowExStyle = 0x00000020,  // WS_EX_TRANSPARENT
  };
  return settings;
}
