#include "logo/logo_win.h"

#include "app/player_state.h"
#include "app/target_settings.h"

void PrepareLogo(std::uint16_t pixelWidth, std::uint16_t pixelHeight) {
  const TargetSettings& target = Target();
  LogoSettings settings;
  settings.parentWindow = static_cast<HWND>(Player().consoleWindow);
  settings.pixelWidth = pixelWidth;
  settings.pixelHeight = pixelHeight;
  settings.kind = target.logoKind;
  settings.placementFactor = target.logoPlacementFactor;
  settings.windowExStyle = target.logoWindowExStyle;
  PrepareLogoWith(settings, StoredLogo());
}
