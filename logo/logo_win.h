#pragma once
// The logo as the start-up and the shutdown see it, for this program's own settings and
// stored record:
//   start-up step 4   StartGdiPlus (exit code 4 when false)
//   start-up step 23  PrepareLogo with the console layout's pixel extent
//   start-up step 24  StartLogoWindowThread
//   song start        RefreshLogo
//   shutdown step 1   CloseLogoWindow
//   shutdown step 4   ReleaseLogo, then StopGdiPlus when it released
#include <cstdint>

#include "logo/gdiplus_win.h"
#include "logo/logo_window_win.h"

// Reads Target() and Player().consoleWindow; the console must already be set up.
void PrepareLogo(std::uint16_t pixelWidth, std::uint16_t pixelHeight);
