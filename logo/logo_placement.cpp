#include "logo/logo_placement.h"

#include <algorithm>
#include <limits>

#include "console/console_layout.h"

namespace {

int ToInt(double value) {
  const double rounded = RoundHalfToEven(value);
  if (!(rounded == rounded)) return 0;  // NaN from a failed size query
  return static_cast<int>(std::clamp(rounded, static_cast<double>(std::numeric_limits<int>::min()),
                                     static_cast<double>(std::numeric_limits<int>::max())));
}

}  // namespace

LogoPlacement PlaceLogo(std::uint16_t pixelWidth, std::uint16_t pixelHeight, double factor,
                        float imageWidth, float imageHeight) {
  LogoPlacement placement;
  placement.x = ToInt(pixelWidth - factor * imageWidth);
  placement.y = ToInt(pixelHeight - factor * imageHeight);
  placement.width = ToInt(imageWidth);
  placement.height = ToInt(imageHeight);
  return placement;
}

std::uint32_t OpaqueArgb(std::uint32_t colorref) {
  const std::uint32_t red = colorref & 0xFF;
  const std::uint32_t green = (colorref >> 8) & 0xFF;
  const std::uint32_t blue = (colorref >> 16) & 0xFF;
  return 0xFF000000u | red << 16 | green << 8 | blue;
}

std::uint32_t NextFrameIndex(std::uint32_t frameIndex, std::uint32_t frameCount) {
  const std::uint32_t next = frameIndex + 1;
  return next >= frameCount ? 0 : next;
}
