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

// The console the player draws in.
inline constexpr int kConsoleColumns = 90;
inline constexpr int kConsoleLines = 9;
inline constexpr char16_t kConsoleFace[] = u"Consolas";
inline constexpr unsigned kConsoleFontWeight = 800;
inline constexpr unsigned kConsoleFontIndex = 0;
inline constexpr unsigned kConsoleFontFamily = 0;

// A console drawn by a terminal reports a font cell of 0 by 0: it has no font of its own
// that could be changed, and asking it to change one can bring its host down. Such a
// console keeps its font, and nothing is restored at the end.
bool ConsoleHasOwnFont(int cellWidth, int cellHeight);
