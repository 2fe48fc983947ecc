#pragma once
// Console output shared by every thread. One lock covers a cursor move and the text that
// follows it, so the save-a-copy thread's row and the status screen never interleave.
//
// Each console call is a round trip to the console host, so what cannot change behind the
// program's back is asked once: whether the output is a console, whether the cursor is
// already hidden, which colours are set. Running a command through the command
// interpreter (RunCommand) forgets all of it, as the command may have changed any of it.
// Nothing here allocates or throws.
#include <windows.h>

#include <initializer_list>
#include <mutex>
#include <span>
#include <string_view>

#include "app/status_screen.h"

namespace console {

// Held while a cursor move and its text must stay together.
std::unique_lock<std::recursive_mutex> Lock();

// Writes program text (8-bit): as UTF-16 when the target writes wide text, else as is.
void Write(std::string_view text);
// Writes text that is always wide (the "Ø" of the bitrate line).
void WriteWide(std::wstring_view text);
// Text followed by a line break.
void PrintLine(std::string_view text);
// Moves the cursor to a 1-based row and column and hides it.
void MoveTo(unsigned row, unsigned column);
// The colours of the text written from now on (and of "Cls").
void SetColours(unsigned text, unsigned back);

// Whether standard output is a console (false when it is redirected to a file or pipe).
bool OutputIsConsole();
// Columns of the console's rows, or 0 when there is no console to ask.
std::size_t Columns();
// Of `rows` rows of `columns` cells each, laid from a 1-based row at column 1, writes the
// cells inside `area` (counted from `row` and column 1) in one call: the cursor does not
// move and nothing scrolls; rows past the screen's edge are cut off. Rows of more than
// 1024 cells in all are not written.
void WriteCells(unsigned row, std::span<const ScreenCell> cells, unsigned rows, unsigned columns,
                CellArea area);
// Counts the writes that may have changed cells anywhere on the screen (text at the
// cursor, a command run, a message): cells a caller wrote before the count moved may no
// longer be what the console shows.
std::uint64_t OtherWrites();
// Hides the cursor again should anything have shown it; asks the console at most once a
// second while the cursor is known to be hidden.
void KeepCursorHidden();
// Runs a command through the command interpreter and waits for it.
void RunCommand(const char* command);

// Messages printed once the player's screen is laid out go to a row of their own, in
// `attribute`, without a line break (a line break on the last row would scroll the
// screen). Row 0 makes them ordinary lines again.
void PlaceMessages(unsigned row, std::uint16_t attribute);
// A message on a line of its own, its parts run together: an ordinary line before the
// screen is laid out, then the whole message row (PlaceMessages). Given in parts, a message
// needs no memory of its own, so a failing request can always be reported.
void PrintMessage(std::initializer_list<std::string_view> parts);

}  // namespace console
