#pragma once
// Where the logo window sits in the console's text area, and the colour its see-through
// pixels take.
#include <cstdint>

struct LogoPlacement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The window's top-left corner lies factor times the image's size up and left of the text
// area's bottom-right corner, so the logo keeps a margin that grows with its size.
LogoPlacement PlaceLogo(std::uint16_t pixelWidth, std::uint16_t pixelHeight, double factor,
                        float imageWidth, float imageHeight);

// A COLORREF (red in the lowest byte) as an opaque GDI+ ARGB colour.
std::uint32_t OpaqueArgb(std::uint32_t colorref);

// The frame after frameIndex, back to 0 after the last (and always 0 without frames).
std::uint32_t NextFrameIndex(std::uint32_t frameIndex, std::uint32_t frameCount);
