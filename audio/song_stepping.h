#pragma once
// Which song comes next, by play order.
#include <cstdint>
#include <random>

#include "app/player_state.h"

// The source of random song numbers; tests put their own in its place.
class RandomSource {
 public:
  virtual ~RandomSource() = default;
  // A whole number drawn uniformly from low to high, both included (low <= high).
  virtual std::int64_t Draw(std::int64_t low, std::int64_t high) = 0;
};

// Seeded once at start-up and drawn from for the whole run.
class SeededRandom final : public RandomSource {
 public:
  explicit SeededRandom(std::uint32_t seed) : engine_(seed) {}
  std::int64_t Draw(std::int64_t low, std::int64_t high) override;

 private:
  std::mt19937 engine_;
};

// Random: a draw from 1 to latestSong; NewestFirst: one down; OldestFirst: one up. The
// counting is 16-bit and unbounded on purpose: below 1 comes 0 and then 65535, and
// counting up passes latestSong; such songs simply fail to open and are passed over.
std::uint16_t NextSongNumber(PlayOrder order, std::uint16_t current, std::int64_t latestSong,
                             RandomSource& random);
