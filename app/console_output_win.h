#pragma once
// Console output, for the main thread alone (the screen has one writer, app/screen_win.h).
//
// Each console call is a round trip to the console host, so what cannot change behind the
// program's back is asked once: whether the output is a console, whether the cursor is
// already hidden, which colours are set. Running a command through the command
// interpreter (RunCommand) forgets all of it, as the command may have changed any of it.
// Nothing here allocates or throws.
#include <windows.h>

#include <span>
#include <string_view>

#include "app/status_screen.h"

namespace console {

// Writes program text (8-bit): as UTF-16 when the target writes wide text, else as is.
void Write(std::string_view text);
// Text followed by a line break.
void PrintLine(std::string_view text);
// The colours of the text written from now on (and of "Cls").
void SetColours(unsigned text, unsigned back);

// Whether standard output is a console (false when it is redirected to a file or pipe).
bool OutputIsConsole();
// Columns of the console's rows, or 0 when there is no console to ask.
std::size_t Columns();
// Of `rows` rows of `columns` cells each, laid from a 1-based row at column 1, writes the
// cells inside `area` (counted from `row` and column 1) in one call: the cursor does not
// move and nothing scrolls; rows past the screen's edge are cut off. More cells than the
// player's screen holds are not written.
void WriteCells(unsigned row, std::span<const ScreenCell> cells, unsigned rows, unsigned columns,
                CellArea area);
// Hides the cursor again should anything have shown it; asks the console at most once a
// second while the cursor is known to be hidden.
void KeepCursorHidden();
// Runs a command through the command interpreter and waits for it.
void RunCommand(const char* command);

}  // namespace console
