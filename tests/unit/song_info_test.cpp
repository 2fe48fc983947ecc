#include "audio/song_info.h"

#include <gtest/gtest.h>

#include <limits>

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

TEST(SongInfo, FiveLinesOfASong) {
  const SongInfoLines lines =
      DescribeSong("https://h.test/listen/42", "song.mp3", 4000000, 250.0, 128.0f);
  EXPECT_EQ(lines.url, "URL:     https://h.test/listen/42");
  EXPECT_EQ(lines.playing, "Playing: song.mp3");
  EXPECT_EQ(lines.bitratePrefix, "Bitrate: ");
  EXPECT_EQ(lines.bitrateRest, " 128 kbps (128 kbps)");
  EXPECT_EQ(lines.size, "Size:    4000000 bytes");
  EXPECT_EQ(lines.length, "Length:  250.00 seconds");
}

TEST(SongInfo, AnEmptyTitleLeavesTheLabelAlone) {
  EXPECT_EQ(DescribeSong("u", "", 1, 1.0, 1.0f).playing, "Playing: ");
}

TEST(AverageBitrate, RoundsDownToWholeKilobits) {
  EXPECT_EQ(AverageBitrateText(4000000, 250.0), "128");
  EXPECT_EQ(AverageBitrateText(4000000, 251.0), "127");  // 127.49
  EXPECT_EQ(AverageBitrateText(3999999, 250.0), "127");  // 127.99997
  EXPECT_EQ(AverageBitrateText(1, 1.0), "0");
}

TEST(AverageBitrate, BeyondSixtyFourBitProductsStaysDefined) {
  // fileSize * 8 no longer fits 64 bits here; the figure is still the true quotient.
  EXPECT_EQ(AverageBitrateText(std::numeric_limits<std::int64_t>::max(), 8.0e12), "9223");
}

TEST(AverageBitrate, NoUsableLengthGivesZero) {
  for (double length : {0.0, -0.0, -1.0, kNaN, kInf, -kInf, 1e300}) {
    EXPECT_EQ(AverageBitrateText(4000000, length), "0") << length;
  }
  EXPECT_EQ(AverageBitrateText(-1, 250.0), "0");
}

TEST(Bitrate, SevenSignificantDigitsWithoutTrailingZerosOrPoint) {
  EXPECT_EQ(BitrateText(128.0f), "128");
  EXPECT_EQ(BitrateText(191.5f), "191.5");
  EXPECT_EQ(BitrateText(127.99997f), "128");
  EXPECT_EQ(BitrateText(123.456789f), "123.4568");
  EXPECT_EQ(BitrateText(0.0f), "0");
  EXPECT_EQ(BitrateText(std::numeric_limits<float>::quiet_NaN()), "0");
  EXPECT_EQ(BitrateText(-std::numeric_limits<float>::infinity()), "0");
}

TEST(LengthLine, SevenCharacterFieldRightAligned) {
  EXPECT_EQ(LengthLine(245.3), "Length:  245.30 seconds");
  EXPECT_EQ(LengthLine(5.0), "Length:    5.00 seconds");
  EXPECT_EQ(LengthLine(0.0), "Length:    0.00 seconds");
  EXPECT_EQ(LengthLine(9999.99), "Length: 9999.99 seconds");
  EXPECT_EQ(LengthLine(1234.567), "Length: 1234.57 seconds");
}

TEST(LengthLine, TooLongForTheFieldIsPrintedWholeBehindAPercentSign) {
  EXPECT_EQ(LengthLine(10000.0), "Length: %10000.00 seconds");
  EXPECT_EQ(LengthLine(12345.678), "Length: %12345.68 seconds");
  // Rounds up into five digits: marked too, never a field of eight characters.
  EXPECT_EQ(LengthLine(9999.996), "Length: %10000.00 seconds");
}

TEST(LengthLine, ReadingsThatAreNotALengthShowZero) {
  for (double length : {kNaN, kInf, -kInf, 1e300}) {
    EXPECT_EQ(LengthLine(length), "Length:    0.00 seconds") << length;
  }
}

TEST(SongAddress, HostPathAndPlainNumber) {
  SiteSettings site{"listen.tuner.test", "", '"', "", "/listen/"};
  EXPECT_EQ(SongAddress(site, 1500), "https://listen.tuner.test/listen/1500");
  EXPECT_EQ(SongAddress(site, 0), "https://listen.tuner.test/listen/0");
  site.songUrlPath = "/download.php/";
  EXPECT_EQ(SongAddress(site, 65535), "https://listen.tuner.test/download.php/65535");
}

TEST(SongInfo, EveryLineStaysOnItsRowWhateverTheSiteNamesTheSong) {
  const std::string name = std::string(200, 'x') + ".mp3";
  const SongInfoLines lines =
      DescribeSong("https://h.test/listen/" + std::string(120, '7'), name, 4000000, 250.0,
                   128.0f, 90);
  EXPECT_EQ(lines.playing, "Playing: " + std::string(80, 'x'));
  EXPECT_EQ(lines.url.size(), 89u);
  EXPECT_EQ(lines.bitrateRest, " 128 kbps (128 kbps)");
  EXPECT_EQ(lines.size, "Size:    4000000 bytes");
  // The bitrate line's three parts share one row: prefix, the wide Ø, the rest.
  const SongInfoLines narrow = DescribeSong("u", "t", 4000000, 250.0, 128.0f, 16);
  EXPECT_EQ(narrow.bitratePrefix.size() + 1 + narrow.bitrateRest.size(), 15u);
  EXPECT_EQ(narrow.length, "Length:  250.00");
}

TEST(SongInfo, ControlCharactersInTheNameShowAsQuestionMarks) {
  EXPECT_EQ(DescribeSong("u", "a\tb\x1b[2Jc\x7F\r\n.mp3", 1, 1.0, 1.0f, 90).playing,
            "Playing: a?b?[2Jc???.mp3");
  EXPECT_EQ(DescribeSong("u", "a\tb", 1, 1.0, 1.0f).playing, "Playing: a?b");  // width unknown
}
