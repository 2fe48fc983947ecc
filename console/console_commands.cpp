#include "console/console_commands.h"

#include <algorithm>

std::string ResizeCommand(int columns, int lines) {
  if (columns < 1 || lines < 1) return {};
  return "MODE CON: COLS=" + std::to_string(columns) + "LINES=" + std::to_string(lines);
}

std::array<char16_t, 32> FontFaceField(std::u16string_view face) {
  std::array<char16_t, 32> field{};
  const std::size_t count = std::min(face.size(), field.size() - 1);
  std::copy_n(face.begin(), count, field.begin());
  // A cut between the halves of a surrogate pair would leave half a character behind.
  if (count > 0 && field[count - 1] >= 0xD800 && field[count - 1] <= 0xDBFF &&
      count < face.size()) {
    field[count - 1] = u'\0';
  }
  return field;
}

bool ConsoleHasOwnFont(int cellWidth, int cellHeight) { return cellWidth > 0 && cellHeight > 0; }
