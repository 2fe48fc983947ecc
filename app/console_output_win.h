#pragma once
// Console output shared by every thread. One lock covers a cursor move and the text that
// follows it, so the save-a-copy thread's row and the status screen never interleave.
#include <windows.h>

#include <mutex>
#include <string>
#include <string_view>

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
void SetColours(unsigned text, unsigned back);

}  // namespace console
