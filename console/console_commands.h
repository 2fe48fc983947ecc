#pragma once
// Texts handed to the console: the size command and the font record's face name.
#include <array>
#include <string>
#include <string_view>

// "MODE CON: COLS=" + columns + "LINES=" + lines, with no blank before "LINES=". Empty
// when either count is below 1: a size that could not be read must not shrink the
// console to nothing, so the caller then runs no command.
std::string ResizeCommand(int columns, int lines);

// The console font record's face name field: at most 31 characters, always terminated,
// the rest zero.
std::array<char16_t, 32> FontFaceField(std::u16string_view face);

// The face name held by such a field, up to its terminator.
std::u16string FaceNameOf(const std::array<char16_t, 32>& field);
