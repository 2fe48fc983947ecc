#include "app/status_screen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <span>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// The line as a fresh string.
std::string StatusLineText(std::int64_t position, double playedSeconds, std::int64_t lengthBytes,
                           double lengthSeconds, float volume) {
  std::string line;
  BuildStatusLine(line, position, playedSeconds, lengthBytes, lengthSeconds, volume);
  return line;
}

// The clock field of the line for a played time: between the time left's " s / " and
// " / volume".
std::string PlayedClock(double playedSeconds) {
  const std::string line = StatusLineText(0, playedSeconds, 100, 1.0, 0.15f);
  const std::size_t start = line.find(" s / ") + 5;
  return line.substr(start, line.find(" / volume") - start);
}

// The share and time-left fields of a line: the text between "Played:  " and " s / ".
std::string ShareAndTimeLeft(const std::string& line) {
  const std::size_t start = line.find("  ") + 2;
  return line.substr(start, line.find(" s / ") - start);
}

}  // namespace

TEST(StatusLine, RunsAllFieldsTogetherAndEndsInSevenBlanks) {
  EXPECT_EQ(StatusLineText(1234, 83.4567, 10000, 83.4567 + 123.45, 0.15f),
            "Played:  12.34 % / 123.45 s / 00:01:23:456 / volume: 15       ");
}

TEST(StatusLine, ShareHasTwoDigitsBeforeThePointAndTwoAfter) {
  EXPECT_EQ(ShareAndTimeLeft(StatusLineText(0, 0.0, 5000, 5.0, 0.15f)), "00.00 % / 5.00");
  EXPECT_EQ(ShareAndTimeLeft(StatusLineText(523, 0.0, 10000, 5.0, 0.15f)), "05.23 % / 5.00");
  EXPECT_EQ(ShareAndTimeLeft(StatusLineText(10000, 5.0, 10000, 5.0, 0.15f)), "100.00 % / 0.00");
}

TEST(StatusLine, ASongJustStartedShowsZeroShareAndZeroClock) {
  const std::string line = StatusLineText(0, 0.0, 44100, 1.0, 0.15f);
  EXPECT_EQ(line.substr(0, 14), "Played:  00.00");
  EXPECT_NE(line.find("/ 00:00:00:000 /"), std::string::npos);
}

TEST(StatusLine, UnknownOrEmptyLengthShowsNoShare) {
  for (std::int64_t length : {std::int64_t{0}, std::int64_t{-1}, kMin}) {
    EXPECT_EQ(StatusLineText(0, 0.0, length, 0.0, 0.15f).substr(0, 14), "Played:  00.00") << length;
    EXPECT_EQ(StatusLineText(77, 1.0, length, 2.0, 0.15f).substr(0, 14), "Played:  00.00")
        << length;
  }
}

TEST(StatusLine, ShareStaysWithinNoneAndAll) {
  EXPECT_EQ(StatusLineText(-1, 0.0, 1000, 1.0, 0.15f).substr(0, 14), "Played:  00.00");
  EXPECT_EQ(StatusLineText(kMin, 0.0, 1000, 1.0, 0.15f).substr(0, 14), "Played:  00.00");
  EXPECT_EQ(StatusLineText(1001, 0.0, 1000, 1.0, 0.15f).substr(0, 15), "Played:  100.00");
  EXPECT_EQ(StatusLineText(kMax, 0.0, 1, 1.0, 0.15f).substr(0, 15), "Played:  100.00");
}

TEST(StatusLine, TimeLeftNeverTurnsNegative) {
  EXPECT_EQ(ShareAndTimeLeft(StatusLineText(0, 10.5, 100, 10.0, 0.15f)), "00.00 % / 0.00");
  // A tiny overshoot would otherwise print "-0.00".
  EXPECT_EQ(ShareAndTimeLeft(StatusLineText(0, 10.001, 100, 10.0, 0.15f)), "00.00 % / 0.00");
}

TEST(StatusLine, BrokenReadingsKeepTheLineOnOneRow) {
  const double odd[] = {kNaN, kInf, -kInf, -1.0, 1e300, -1e300};
  for (double played : odd) {
    for (double length : odd) {
      const std::string line = StatusLineText(kMax, played, kMin, length, 1e30f);
      EXPECT_LT(line.size(), 90u) << line;
      EXPECT_EQ(line.find("nan"), std::string::npos) << line;
      EXPECT_EQ(line.find("inf"), std::string::npos) << line;
      EXPECT_EQ(line.find('-'), std::string::npos) << line;
      EXPECT_EQ(line.substr(line.size() - 7), "       ");
    }
  }
}

TEST(StatusLine, ReusesTheCallersStorage) {
  std::string line;
  line.reserve(128);
  const char* storage = line.data();
  BuildStatusLine(line, 10, 1.0, 100, 2.0, 0.15f);
  BuildStatusLine(line, 20, 2.0, 100, 2.0, 0.2f);
  EXPECT_EQ(line.data(), storage);
  EXPECT_EQ(line, StatusLineText(20, 2.0, 100, 2.0, 0.2f));
}

TEST(PlayedClock, CutsDownToWholeMilliseconds) {
  EXPECT_EQ(PlayedClock(83.4567), "00:01:23:456");
  EXPECT_EQ(PlayedClock(3725.5), "01:02:05:500");
  EXPECT_EQ(PlayedClock(59.9996), "00:00:59:999");
  EXPECT_EQ(PlayedClock(0.0), "00:00:00:000");
}

TEST(PlayedClock, HoursGrowPastTwoDigits) {
  EXPECT_EQ(PlayedClock(100 * 3600.0 + 61.25), "100:01:01:250");
}

TEST(PlayedClock, ReadingsBelowZeroOrNotANumberShowZero) {
  EXPECT_EQ(PlayedClock(-1.0), "00:00:00:000");
  EXPECT_EQ(PlayedClock(kNaN), "00:00:00:000");
  EXPECT_EQ(PlayedClock(-kInf), "00:00:00:000");
}

TEST(VolumePercent, RoundsToNearestWithTiesToEven) {
  EXPECT_EQ(VolumePercent(0.15f), 15);
  EXPECT_EQ(VolumePercent(1.0000001f), 100);
  EXPECT_EQ(VolumePercent(0.0000000082f), 0);
  EXPECT_EQ(VolumePercent(0.0499999635f), 5);
  EXPECT_EQ(VolumePercent(0.125f), 12);  // 12.5, exactly representable: even neighbour
  EXPECT_EQ(VolumePercent(0.375f), 38);  // 37.5
}

TEST(VolumePercent, OutOfRangeValuesAreHeldAtTheEnds) {
  EXPECT_EQ(VolumePercent(-0.5f), 0);
  EXPECT_EQ(VolumePercent(std::numeric_limits<float>::quiet_NaN()), 0);
  EXPECT_EQ(VolumePercent(3.0f), 255);
  EXPECT_EQ(VolumePercent(std::numeric_limits<float>::infinity()), 255);
}

TEST(LevelIndex, SevenStepsWithTiesToEven) {
  EXPECT_EQ(LevelIndex(0.0f), 0);
  EXPECT_EQ(LevelIndex(0.5f), 4);  // 3.5
  EXPECT_EQ(LevelIndex(0.9f), 6);  // 6.3
  EXPECT_EQ(LevelIndex(1.0f), 7);
}

TEST(LevelIndex, StaysOnTheTables) {
  EXPECT_EQ(LevelIndex(1.2f), 7);
  EXPECT_EQ(LevelIndex(1e30f), 7);
  EXPECT_EQ(LevelIndex(std::numeric_limits<float>::infinity()), 7);
  EXPECT_EQ(LevelIndex(-0.3f), 0);
  EXPECT_EQ(LevelIndex(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(BannerColours, FollowTheLevelTables) {
  const std::uint8_t red = 4;
  EXPECT_EQ(ConsoleAttribute(BannerColours(0.0f, red, true, 15)), 15 + 16 * red);
  EXPECT_EQ(ConsoleAttribute(BannerColours(0.1f, red, true, 15)), 15 + 16 * red);  // index 1
  EXPECT_EQ(ConsoleAttribute(BannerColours(0.3f, red, true, 15)), 15 + 16 * 1);    // index 2
  EXPECT_EQ(ConsoleAttribute(BannerColours(0.45f, red, true, 15)), 14 + 16 * 3);   // index 3
  EXPECT_EQ(ConsoleAttribute(BannerColours(0.55f, red, true, 15)), 14 + 16 * 9);   // index 4
  EXPECT_EQ(ConsoleAttribute(BannerColours(0.7f, red, true, 15)), 13 + 16 * 11);   // index 5
  EXPECT_EQ(ConsoleAttribute(BannerColours(0.85f, red, true, 15)), 5 + 16 * 7);    // index 6
  EXPECT_EQ(ConsoleAttribute(BannerColours(1.0f, red, true, 15)), 1 + 16 * 15);    // blue on white
}

TEST(BannerColours, TheBackgroundOfTheQuietRowsIsTheProgramsOwn) {
  const std::uint8_t magenta = 5;
  EXPECT_EQ(BannerColours(0.0f, magenta, true, 15).back, magenta);
  EXPECT_EQ(BannerColours(0.1f, magenta, true, 15).back, magenta);
}

TEST(BannerColours, WithoutTheLevelMeterAlwaysTheDefaults) {
  for (float level : {0.0f, 0.5f, 1.0f, 2.0f}) {
    const TextColours colours = BannerColours(level, 5, false, 15);
    EXPECT_EQ(colours.text, 15);
    EXPECT_EQ(colours.back, 5);
  }
}

TEST(FitToRow, ControlCharactersShowAsQuestionMarks) {
  std::string text = "a";
  for (int c = 0; c < 0x20; ++c) text += static_cast<char>(c);
  text += "\x7F" "b\xD8\x80";
  EXPECT_EQ(FitToRow(text, 0), "a" + std::string(33, '?') + "b\xD8\x80");
}

TEST(FitToRow, LeavesTheLastColumnFree) {
  const std::string name(200, 'n');
  EXPECT_EQ(FitToRow(name, 90), std::string(89, 'n'));
  EXPECT_EQ(FitToRow(name.substr(0, 89), 90), std::string(89, 'n'));
  EXPECT_EQ(FitToRow("abc", 1), "");
  EXPECT_EQ(FitToRow(name, 0), name);  // width unknown
}

TEST(LayRow, TextThenBlanksInTheirOwnColoursCutAtTheEdge) {
  std::vector<ScreenCell> row(6, ScreenCell{'x', 0x11});
  LayRow(row, "ab\x1b", 0xF1, 0x4F);
  const std::string shown{row[0].character, row[1].character, row[2].character,
                          row[3].character, row[4].character, row[5].character};
  EXPECT_EQ(shown, "ab?   ");
  for (int i = 0; i < 6; ++i) EXPECT_EQ(row[i].attribute, i < 3 ? 0xF1 : 0x4F) << i;

  LayRow(row, "far too long for it", 0x4F, 0x4F);
  EXPECT_EQ(row[5].character, 'o');
  LayRow(std::span<ScreenCell>(row.data(), 0), "nothing fits", 0x4F, 0x4F);  // no cells
}

TEST(ChangedArea, SpansTheCellsThatDifferAndNothingWhenAllAreTheSame) {
  std::vector<ScreenCell> before(3 * 10, ScreenCell{' ', 0x4F});
  std::vector<ScreenCell> after = before;
  EXPECT_FALSE(ChangedArea(before, after, 10).has_value());

  after[0 * 10 + 7].character = '9';  // the clock's last digit
  after[2 * 10 + 2].attribute = 0xF1;  // a banner cell's colours
  const std::optional<CellArea> area = ChangedArea(before, after, 10);
  ASSERT_TRUE(area.has_value());
  EXPECT_EQ(area->top, 0u);
  EXPECT_EQ(area->bottom, 2u);
  EXPECT_EQ(area->left, 2u);
  EXPECT_EQ(area->right, 7u);

  const std::optional<CellArea> all = ChangedArea({}, after, 10);  // nothing known shown
  ASSERT_TRUE(all.has_value());
  EXPECT_EQ(all->bottom, 2u);
  EXPECT_EQ(all->right, 9u);
}

TEST(ScreenRows, TheStatusLineBannerAndMessageRowFollowTheFiveSongLines) {
  const ScreenRows rows;
  EXPECT_EQ(rows.status, 6u);
  EXPECT_EQ(rows.Banner(), 8u);
  EXPECT_EQ(rows.Message(), 9u);
  EXPECT_EQ(ScreenCells::kRows, 9u);
}

TEST(ScreenCells, AfterClsOnlyWhatIsLaidOtherwiseGoesOutAndThenNothing) {
  ScreenCells cells;
  EXPECT_FALSE(cells.Changes()) << "nothing to write before the screen is known";
  cells.Cleared(90, 0x4F);
  EXPECT_FALSE(cells.Changes()) << "\"Cls\" left every cell blank";
  LayRow(cells.Row(9), "", 0x4F, 0x4F);
  EXPECT_FALSE(cells.Changes());
  LayRow(cells.Row(2), "Playing: x", 0x4F, 0x4F);
  LayRow(cells.Row(8), "Zo", 0x1F, 0x4F);
  cells.Row(3)[9].wide = true;
  const std::optional<CellArea> area = cells.Changes();
  ASSERT_TRUE(area);
  EXPECT_EQ(area->top, 1u);
  EXPECT_EQ(area->bottom, 7u);
  EXPECT_EQ(area->left, 0u);
  EXPECT_EQ(area->right, 9u);
  cells.Written();
  EXPECT_FALSE(cells.Changes());
  // A console wider than the player keeps its far cells as "Cls" left them.
  cells.Cleared(100000, 0x4F);
  EXPECT_EQ(cells.Columns(), ScreenCells::kMostColumns);
  EXPECT_TRUE(cells.Row(10).empty());
}

TEST(MessageRow, AMessageGoesBeforeTheLayoutOnALineThenToItsRowWholeUntilTheNext) {
  EXPECT_EQ(WhereMessageGoes(false), MessagePlace::Line);
  EXPECT_EQ(WhereMessageGoes(true), MessagePlace::MessageRow);
  MessageRow row;
  EXPECT_EQ(row.Text(), "");
  row.Message("Error 12002 in function _WinHttpReceiveResponse!");
  row.CopyReading();  // a message is never cut or covered by the copy's text
  EXPECT_EQ(row.Text(), "Error 12002 in function _WinHttpReceiveResponse!");
  row.Message("Error 12030 in function _WinHttpSendRequest!");
  EXPECT_EQ(row.Text(), "Error 12030 in function _WinHttpSendRequest!");
  row.Cleared();
  EXPECT_EQ(row.Text(), "");
}

TEST(MessageRow, DownloadingGoesWithItsCopyAndTheCopysEndBlanksNothingElse) {
  MessageRow row;
  row.CopyReading();
  EXPECT_EQ(row.Text(), "Downloading...");
  row.CopyEnded();
  EXPECT_EQ(row.Text(), "");
  // The copy showed its text, a song change cleared the screen and an error line took
  // the row: the copy's end leaves that line whole.
  row.CopyReading();
  row.Cleared();
  row.Message("Error 12029 in function _WinHttpSendRequest!");
  row.CopyEnded();
  EXPECT_EQ(row.Text(), "Error 12029 in function _WinHttpSendRequest!");
  // A message while the copy reads takes the row, and keeps it after the copy.
  row.Cleared();
  row.CopyReading();
  row.Message("Error 12002 in function _WinHttpReceiveResponse!");
  row.CopyEnded();
  EXPECT_EQ(row.Text(), "Error 12002 in function _WinHttpReceiveResponse!");
}
