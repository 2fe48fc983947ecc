#pragma once
// The command line: "/order N" and "/nolevel".
#include <cstdint>
#include <string>
#include <vector>

#include "app/player_state.h"

// Position (1, 2, ...) of the first argument equal to `option`, byte for byte, or 0.
// args[0] is the program. The search stops at the first empty or missing argument
// from position 2 on.
std::uint8_t FindOption(const std::vector<std::string>& args, const std::string& option);

// Leading whole number of a text as the C library reads one ("12x" is 12, "x" is 0,
// "-1" is -1), kept to its low 8 bits.
std::uint8_t ReadLeadingNumberLow8(const std::string& text);

struct Options {
  PlayOrder playOrder = PlayOrder::Random;
  bool levelMeter = true;
};

Options ReadOptions(const std::vector<std::string>& args);

// Song number before the first step of an order: newest first starts one above the
// newest so that stepping down lands on it; the other orders start at 0.
std::uint16_t StartingSongNumber(PlayOrder order, std::int64_t latestSong);
