#pragma once
// The console's own setting-up: DPI awareness, its font and its size, saved at start-up,
// changed for the player and given back at shutdown. Every operation acts on the console
// behind the process's standard output.
#include <windows.h>

#include <cstdint>
#include <string_view>

// Makes the process DPI-aware through "SetProcessDPIAware", looked up at run time (it is
// missing before Vista); that function's result, or 0 when it cannot be called.
int EnableDpiAwareness();

// The visible window of the console in cells.
void QueryConsoleWindowSize(int& columns, int& lines);

// The console's current font record, zeroed with its size field set when it cannot be read.
CONSOLE_FONT_INFOEX QueryConsoleFont();

// Sets the console font; the face is cut to 31 characters. The console's own answer.
bool ApplyConsoleFont(std::int16_t width, std::int16_t height, std::u16string_view face,
                      std::uint32_t fontIndex, std::uint32_t weight, std::uint32_t family);

// Runs the size command through the command interpreter and waits for it.
void ResizeConsole(int columns, int lines);

// What start-up keeps of the console's shape to give it back at shutdown.
struct SavedConsoleShape {
  int columns = 0;
  int lines = 0;
  CONSOLE_FONT_INFOEX font{};
};

// Window size first, then the font.
SavedConsoleShape SaveConsoleShape();

// The player's font (the layout's cell size, "Consolas", weight 800) and its 90 by 9 size.
// A console that reported no font cell of its own keeps the font it has.
void ShapeConsole(const SavedConsoleShape& saved, std::int16_t fontWidth, std::int16_t fontHeight);

// The saved size, then the saved font (when there was one).
void RestoreConsoleShape(const SavedConsoleShape& saved);
