#include "app/options.h"

#include <cctype>

std::uint8_t FindOption(const std::vector<std::string>& args, const std::string& option) {
  std::uint8_t position = 1;
  if (args.size() <= position) return 0;
  for (;;) {
    if (args[position] == option) return position;
    ++position;
    // The counter is 8 bits wide; a command line with 256 arguments or more would wrap
    // it back to the program name and search for ever, so the wrap ends the search.
    if (position == 0) return 0;
    if (args.size() <= position || args[position].empty()) return 0;
  }
}

std::uint8_t ReadLeadingNumberLow8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Unsigned arithmetic wraps instead of overflowing; only the low 8 bits matter.
  std::uint64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  if (negative) value = 0 - value;
  return static_cast<std::uint8_t>(value);
}

Options ReadOptions(const std::vector<std::string>& args) {
  Options options;
  const std::size_t order = FindOption(args, "/order");
  if (order != 0 && order + 1 < args.size() && !args[order + 1].empty()) {
    const std::uint8_t value = ReadLeadingNumberLow8(args[order + 1]);
    if (value <= 2) options.playOrder = static_cast<PlayOrder>(value);
  }
  if (FindOption(args, "/nolevel") != 0) options.levelMeter = false;
  return options;
}

std::uint16_t StartingSongNumber(PlayOrder order, std::int64_t latestSong) {
  if (order == PlayOrder::NewestFirst) return static_cast<std::uint16_t>(latestSong + 1);
  return 0;
}
