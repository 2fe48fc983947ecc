#pragma once
// The console font size and the pixel extent of the 90 by 9 text area, from the screen's
// DPI and the Windows build. The logo's placement rests on the extent.
#include <cstdint>

struct ConsoleLayout {
  float dpiScale = 1.0f;
  std::int16_t fontWidth = 8;
  std::int16_t fontHeight = 12;
  std::uint16_t pixelWidth = 720;
  std::uint16_t pixelHeight = 108;
};

ConsoleLayout ComputeConsoleLayout(std::uint32_t buildNumber, int dpi);

// Nearest whole number, an exact half going to the even neighbour (as the FPU rounds).
double RoundHalfToEven(double value);
