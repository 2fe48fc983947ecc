#include "console/console_layout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kCellWidth = 8;
constexpr int kCellHeight = 12;
constexpr int kColumns = 90;
constexpr int kLines = 9;
constexpr int kReferenceDpi = 96;
// From Windows 8 on the console scales its font by the DPI itself, so we ask for less.
constexpr std::uint32_t kInverseScaleBuild = 9200;
constexpr int kCorrectionDpiLimit = 120;
constexpr double kCorrectionBase = 104.0;

template <typename Int>
Int RoundInto(double value) {
  const double rounded = RoundHalfToEven(value);
  const double low = std::numeric_limits<Int>::min();
  const double high = std::numeric_limits<Int>::max();
  return static_cast<Int>(std::clamp(rounded, low, high));
}

}  // namespace

double RoundHalfToEven(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  if (fraction < 0.5) return floor;
  if (fraction > 0.5) return floor + 1.0;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

ConsoleLayout ComputeConsoleLayout(std::uint32_t buildNumber, int dpi) {
  // A failed DPI query reads 0; dividing by it would give an infinite font.
  if (dpi <= 0) dpi = kReferenceDpi;
  const bool inverseScale = buildNumber >= kInverseScaleBuild;
  ConsoleLayout layout;
  layout.dpiScale = inverseScale ? static_cast<float>(static_cast<double>(kReferenceDpi) / dpi)
                                 : static_cast<float>(static_cast<double>(dpi) / kReferenceDpi);
  layout.fontWidth = RoundInto<std::int16_t>(kCellWidth * static_cast<double>(layout.dpiScale));
  layout.fontHeight = RoundInto<std::int16_t>(kCellHeight * static_cast<double>(layout.dpiScale));

  double horizontal = 1.0;
  double vertical = 1.0;
  if (!inverseScale && layout.dpiScale != 1.0f) {
    horizontal = dpi <= kCorrectionDpiLimit ? kCorrectionBase / dpi : 1.0;
    vertical = layout.dpiScale;
  }
  layout.pixelWidth = RoundInto<std::uint16_t>(horizontal * kCellWidth * kColumns);
  layout.pixelHeight = RoundInto<std::uint16_t>(vertical * kCellHeight * kLines);
  return layout;
}
