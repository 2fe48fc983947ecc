#include "logo/logo_placement.h"

#include <gtest/gtest.h>

#include <vector>

#include "console/console_layout.h"

namespace {

void ExpectPlacement(const LogoPlacement& p, int x, int y, int width, int height) {
  EXPECT_EQ(p.x, x);
  EXPECT_EQ(p.y, y);
  EXPECT_EQ(p.width, width);
  EXPECT_EQ(p.height, height);
}

std::vector<std::uint32_t> FramesShown(std::uint32_t frameCount, int ticks) {
  std::vector<std::uint32_t> shown;
  std::uint32_t index = 0;
  for (int i = 0; i < ticks; ++i) {
    shown.push_back(index);
    index = NextFrameIndex(index, frameCount);
  }
  return shown;
}

}  // namespace

TEST(LogoPlacement, StillLogoAt96DpiSitsSevenPixelsInsideTheCorner) {
  const ConsoleLayout layout = ComputeConsoleLayout(7601, 96);
  // 720 - 1.15 x 48 = 664.8 and 108 - 55.2 = 52.8.
  ExpectPlacement(PlaceLogo(layout.pixelWidth, layout.pixelHeight, 1.15, 48.0f, 48.0f), 665, 53, 48,
                  48);
}

TEST(LogoPlacement, AnimatedLogoOf64PixelsAt96Dpi) {
  // 720 - 1.1 x 64 = 649.6 and 108 - 70.4 = 37.6.
  ExpectPlacement(PlaceLogo(720, 108, 1.1, 64.0f, 64.0f), 650, 38, 64, 64);
}

TEST(LogoPlacement, FollowsTheCorrectedWindows7Extent) {
  const ConsoleLayout layout = ComputeConsoleLayout(7601, 120);  // 624 by 135
  ExpectPlacement(PlaceLogo(layout.pixelWidth, layout.pixelHeight, 1.15, 48.0f, 48.0f), 569, 80, 48,
                  48);
}

TEST(LogoPlacement, HalvesGoToTheEvenNeighbour) {
  ExpectPlacement(PlaceLogo(720, 108, 1.0, 48.5f, 47.5f), 672, 60, 48, 48);
}

TEST(LogoPlacement, ALogoLargerThanTheTextAreaGoesAboveAndLeftOfIt) {
  ExpectPlacement(PlaceLogo(100, 50, 1.1, 100.0f, 100.0f), -10, -60, 100, 100);
}

TEST(LogoBackground, ColorrefBecomesOpaqueArgbWithRedOnTop) {
  EXPECT_EQ(OpaqueArgb(0x00563412u), 0xFF123456u);
  EXPECT_EQ(OpaqueArgb(0x00000080u), 0xFF800000u);  // the console's dark red
  // GetPixel's failure value comes out opaque white, not see-through.
  EXPECT_EQ(OpaqueArgb(0xFFFFFFFFu), 0xFFFFFFFFu);
}

TEST(LogoAnimation, FramesCycleInOrderAndStartAgainAfterTheLast) {
  EXPECT_EQ(FramesShown(3, 8), (std::vector<std::uint32_t>{0, 1, 2, 0, 1, 2, 0, 1}));
}

TEST(LogoAnimation, OneFrameOrNoneShowsTheFirstEveryTick) {
  EXPECT_EQ(FramesShown(1, 4), (std::vector<std::uint32_t>{0, 0, 0, 0}));
  EXPECT_EQ(FramesShown(0, 4), (std::vector<std::uint32_t>{0, 0, 0, 0}));
}

TEST(LogoAnimation, AnIndexPastTheCountComesBackToTheStart) {
  EXPECT_EQ(NextFrameIndex(7, 3), 0u);
  EXPECT_EQ(NextFrameIndex(0xFFFFFFFFu, 5), 0u);
}
