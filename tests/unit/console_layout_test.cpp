#include "console/console_layout.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kWindows7 = 7601;
constexpr std::uint32_t kWindows8 = 9200;
constexpr std::uint32_t kWindows11 = 22631;

struct LayoutCase {
  std::uint32_t build;
  int dpi;
  float scale;
  int fontWidth, fontHeight;
  int pixelWidth, pixelHeight;
};

void ExpectLayout(const LayoutCase& c) {
  SCOPED_TRACE(testing::Message() << "build " << c.build << ", " << c.dpi << " DPI");
  const ConsoleLayout layout = ComputeConsoleLayout(c.build, c.dpi);
  EXPECT_FLOAT_EQ(layout.dpiScale, c.scale);
  EXPECT_EQ(layout.fontWidth, c.fontWidth);
  EXPECT_EQ(layout.fontHeight, c.fontHeight);
  EXPECT_EQ(layout.pixelWidth, c.pixelWidth);
  EXPECT_EQ(layout.pixelHeight, c.pixelHeight);
}

}  // namespace

TEST(ConsoleLayout, At96DpiEveryWindowsGetsTheBaseFontAndExtent) {
  for (std::uint32_t build : {kWindows7, kWindows8, kWindows11}) {
    ExpectLayout({build, 96, 1.0f, 8, 12, 720, 108});
  }
}

TEST(ConsoleLayout, Windows8AndLaterShrinkTheFontAndKeepTheExtent) {
  ExpectLayout({kWindows8, 120, 0.8f, 6, 10, 720, 108});
  ExpectLayout({kWindows8, 144, 96.0f / 144.0f, 5, 8, 720, 108});
  ExpectLayout({kWindows11, 120, 0.8f, 6, 10, 720, 108});
}

TEST(ConsoleLayout, Windows7GrowsTheFontAndCorrectsTheExtent) {
  ExpectLayout({kWindows7, 120, 1.25f, 10, 15, 624, 135});
  // Above 120 DPI the horizontal correction stops.
  ExpectLayout({kWindows7, 144, 1.5f, 12, 18, 720, 162});
  // The last build before Windows 8 still scales the Windows 7 way.
  ExpectLayout({kWindows8 - 1, 120, 1.25f, 10, 15, 624, 135});
}

TEST(ConsoleLayout, ExactHalvesGoToTheEvenNeighbour) {
  // 12 x 1.125 = 13.5 and 108 x 1.125 = 121.5 both round up to the even number,
  // 8 x 1.125 = 9 stays, 720 x 104 / 108 = 693.3 rounds down.
  ExpectLayout({kWindows7, 108, 1.125f, 9, 14, 693, 122});
}

TEST(ConsoleLayout, AFailedDpiQueryCountsAsTheReferenceDpi) {
  ExpectLayout({kWindows7, 0, 1.0f, 8, 12, 720, 108});
  ExpectLayout({kWindows8, -5, 1.0f, 8, 12, 720, 108});
}

TEST(ConsoleLayout, AbsurdDpiStaysInsideTheFieldTypes) {
  const ConsoleLayout huge = ComputeConsoleLayout(kWindows7, 1 << 30);
  EXPECT_EQ(huge.fontHeight, 32767);
  EXPECT_EQ(huge.pixelHeight, 65535);
  const ConsoleLayout tiny = ComputeConsoleLayout(kWindows8, 1 << 30);
  EXPECT_EQ(tiny.fontWidth, 0);
  EXPECT_EQ(tiny.pixelWidth, 720);
}

TEST(RoundHalfToEven, RoundsToNearestAndTiesToEven) {
  EXPECT_EQ(RoundHalfToEven(664.8), 665.0);
  EXPECT_EQ(RoundHalfToEven(52.8), 53.0);
  EXPECT_EQ(RoundHalfToEven(649.4), 649.0);
  EXPECT_EQ(RoundHalfToEven(0.5), 0.0);
  EXPECT_EQ(RoundHalfToEven(1.5), 2.0);
  EXPECT_EQ(RoundHalfToEven(2.5), 2.0);
  EXPECT_EQ(RoundHalfToEven(-1.5), -2.0);
  EXPECT_EQ(RoundHalfToEven(-2.5), -2.0);
  EXPECT_EQ(RoundHalfToEven(-0.2), 0.0);
}
