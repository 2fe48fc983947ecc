#include "audio/song_stepping.h"

std::int64_t SeededRandom::Draw(std::int64_t low, std::int64_t high) {
  return std::uniform_int_distribution<std::int64_t>(low, high)(engine_);
}

std::uint16_t NextSongNumber(PlayOrder order, std::uint16_t current, std::int64_t latestSong,
                             RandomSource& random) {
  switch (order) {
    case PlayOrder::NewestFirst:
      return static_cast<std::uint16_t>(current - 1);
    case PlayOrder::OldestFirst:
      return static_cast<std::uint16_t>(current + 1);
    case PlayOrder::Random:
      break;
  }
  // Song numbers are 16-bit: a newest number beyond 65535 is drawn as 65535 at most, so a
  // draw never wraps round to song 0, and a catalogue that reported no songs still gets
  // song 1 rather than an empty range.
  std::int64_t highest = latestSong;
  if (highest < 1) highest = 1;
  if (highest > 65535) highest = 65535;
  return static_cast<std::uint16_t>(random.Draw(1, highest));
}
