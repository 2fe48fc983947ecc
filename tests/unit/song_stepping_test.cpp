#include "audio/song_stepping.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// Hands back the ends of the range it is asked for, so tests see which range was asked.
class EdgeRandom final : public RandomSource {
 public:
  explicit EdgeRandom(bool high) : high_(high) {}
  std::int64_t Draw(std::int64_t low, std::int64_t high) override {
    lastLow = low;
    lastHigh = high;
    return high_ ? high : low;
  }
  std::int64_t lastLow = 0;
  std::int64_t lastHigh = 0;

 private:
  bool high_;
};

}  // namespace

TEST(SongStepping, NewestFirstCountsDownThroughZeroTo65535) {
  EdgeRandom unused(false);
  std::uint16_t song = 1501;  // latestSong + 1, as start-up and the key "1" set it
  song = NextSongNumber(PlayOrder::NewestFirst, song, 1500, unused);
  EXPECT_EQ(song, 1500);
  song = NextSongNumber(PlayOrder::NewestFirst, song, 1500, unused);
  EXPECT_EQ(song, 1499);
  song = NextSongNumber(PlayOrder::NewestFirst, 1, 1500, unused);
  EXPECT_EQ(song, 0);
  song = NextSongNumber(PlayOrder::NewestFirst, song, 1500, unused);
  EXPECT_EQ(song, 65535);
}

TEST(SongStepping, OldestFirstCountsUpPastTheNewestAndWraps) {
  EdgeRandom unused(false);
  EXPECT_EQ(NextSongNumber(PlayOrder::OldestFirst, 0, 1500, unused), 1);
  EXPECT_EQ(NextSongNumber(PlayOrder::OldestFirst, 1500, 1500, unused), 1501);
  EXPECT_EQ(NextSongNumber(PlayOrder::OldestFirst, 65535, 1500, unused), 0);
}

TEST(SongStepping, RandomDrawsFromOneToTheNewest) {
  EdgeRandom low(false);
  EdgeRandom high(true);
  EXPECT_EQ(NextSongNumber(PlayOrder::Random, 7, 1500, low), 1);
  EXPECT_EQ(NextSongNumber(PlayOrder::Random, 7, 1500, high), 1500);
}

TEST(SongStepping, RandomRangeIsKeptToSixteenBitSongsAndNeverEmpty) {
  EdgeRandom high(true);
  EXPECT_EQ(NextSongNumber(PlayOrder::Random, 7, 70000, high), 65535);
  EXPECT_EQ(NextSongNumber(PlayOrder::Random, 7, 0, high), 1);
  EXPECT_EQ(high.lastLow, 1);
  EXPECT_EQ(NextSongNumber(PlayOrder::Random, 7, -5, high), 1);
}

TEST(SeededRandom, NeverDrawsZeroOrPastTheNewestAndReachesBothEnds) {
  SeededRandom random(12345);
  std::set<std::uint16_t> seen;
  for (int i = 0; i < 20000; ++i) {
    const std::uint16_t song = NextSongNumber(PlayOrder::Random, 0, 50, random);
    ASSERT_GE(song, 1);
    ASSERT_LE(song, 50);
    seen.insert(song);
  }
  EXPECT_EQ(seen.size(), 50u);
}
