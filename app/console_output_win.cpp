#include "app/console_output_win.h"

#include <algorithm>
#include <cstdlib>

#include "app/target_settings.h"
#include "platform/utf16_win.h"

namespace console {
namespace {

// Texts go out in pieces of this many characters, converted in fixed buffers, so writing
// never allocates; and this many cells at most go into one screen write.
constexpr std::size_t kPiece = 256;
constexpr std::size_t kMostCells = std::size_t(ScreenCells::kRows) * ScreenCells::kMostColumns;
// How long a cursor known to be hidden is trusted before the console is asked again.
constexpr ULONGLONG kCursorTrustMilliseconds = 1000;

// What the program knows of its console.
struct Known {
  HANDLE output = nullptr;  // the output handle `isConsole` was decided for
  bool decided = false;
  bool isConsole = false;
  bool cursorHidden = false;
  ULONGLONG cursorCheckedAt = 0;
  int attribute = -1;  // the colours last set; -1 when not known
  bool codePageKnown = false;
  wchar_t fromCodePage[256] = {};  // each 8-bit character as the console's code page shows it
};

Known& State() {
  static Known known;
  return known;
}

HANDLE Out() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool IsConsole(HANDLE out) {
  Known& known = State();
  if (!known.decided || known.output != out) {
    DWORD mode = 0;
    known.isConsole = GetConsoleMode(out, &mode) != 0;
    known.output = out;
    known.decided = true;
  }
  return known.isConsole;
}

void WriteRaw(HANDLE out, const void* data, DWORD bytes) {
  DWORD written = 0;
  WriteFile(out, data, bytes, &written, nullptr);
}

// A piece of wide text: to the console as is, to a file or pipe as UTF-8.
void WriteWidePiece(HANDLE out, const wchar_t* text, std::size_t count) {
  if (IsConsole(out)) {
    DWORD written = 0;
    WriteConsoleW(out, text, static_cast<DWORD>(count), &written, nullptr);
    return;
  }
  char utf8[kPiece * 3];
  const std::size_t bytes = NarrowInto({text, count}, utf8, sizeof utf8, CP_UTF8);
  if (bytes > 0) WriteRaw(out, utf8, static_cast<DWORD>(bytes));
}

// Program texts are 8-bit Latin-1; each byte is its own code point.
wchar_t Widened(char character) { return static_cast<unsigned char>(character); }

void WriteWidened(HANDLE out, std::string_view text) {
  wchar_t wide[kPiece];
  while (!text.empty()) {
    const std::size_t count = std::min(text.size(), kPiece);
    for (std::size_t i = 0; i < count; ++i) wide[i] = Widened(text[i]);
    WriteWidePiece(out, wide, count);
    text.remove_prefix(count);
  }
}

void HideCursor(HANDLE out) {
  Known& known = State();
  const ULONGLONG now = GetTickCount64();
  if (known.cursorHidden && now - known.cursorCheckedAt < kCursorTrustMilliseconds) return;
  known.cursorCheckedAt = now;
  CONSOLE_CURSOR_INFO cursor{};
  if (GetConsoleCursorInfo(out, &cursor) && !cursor.bVisible) {
    known.cursorHidden = true;
    return;
  }
  if (cursor.dwSize == 0) cursor.dwSize = 25;
  cursor.bVisible = FALSE;
  known.cursorHidden = SetConsoleCursorInfo(out, &cursor) != FALSE;
}

// An 8-bit target's characters mean what the console's output code page makes of them, as
// WriteConsoleOutputA would show them; but that function asks the console for its code
// page on every call, one more round trip. The code page is asked once instead.
const wchar_t* EightBitCharacters() {
  Known& known = State();
  if (!known.codePageKnown) {
    const UINT codePage = GetConsoleOutputCP();
    for (int byte = 0; byte < 256; ++byte) {
      const char narrow = static_cast<char>(byte);
      wchar_t wide = L'?';
      WidenInto({&narrow, 1}, &wide, 1, codePage);
      known.fromCodePage[byte] = wide;
    }
    known.codePageKnown = true;
  }
  return known.fromCodePage;
}

}  // namespace

void Write(std::string_view text) {
  if (text.empty()) return;
  HANDLE out = Out();
  if (Target().wideConsoleText || !IsConsole(out)) {
    WriteWidened(out, text);
    return;
  }
  DWORD written = 0;
  WriteConsoleA(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void PrintLine(std::string_view text) {
  Write(text);
  Write("\r\n");
}

void SetColours(unsigned text, unsigned back) {
  const auto attribute = static_cast<WORD>(text + 16 * back);
  Known& known = State();
  if (known.attribute == attribute) return;
  HANDLE out = Out();
  if (!IsConsole(out)) return;
  known.attribute = SetConsoleTextAttribute(out, attribute) ? attribute : -1;
}

bool OutputIsConsole() {
  return IsConsole(Out());
}

std::size_t Columns() {
  HANDLE out = Out();
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!IsConsole(out) || !GetConsoleScreenBufferInfo(out, &info) || info.dwSize.X <= 0) return 0;
  return static_cast<std::size_t>(info.dwSize.X);
}

void WriteCells(unsigned row, std::span<const ScreenCell> cells, unsigned rows, unsigned columns,
                CellArea area) {
  HANDLE out = Out();
  const std::size_t count = std::size_t(rows) * columns;
  if (!IsConsole(out) || row == 0 || count == 0 || count > kMostCells || cells.size() < count ||
      area.top > area.bottom || area.bottom >= rows || area.left > area.right ||
      area.right >= columns) {
    return;
  }
  // Only the cells of the area are converted: most passes change a few cells of one row.
  static CHAR_INFO buffer[kMostCells];
  const wchar_t* eightBit = Target().wideConsoleText ? nullptr : EightBitCharacters();
  const unsigned width = area.right - area.left + 1;
  const unsigned height = area.bottom - area.top + 1;
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      const ScreenCell& cell = cells[std::size_t(area.top + y) * columns + area.left + x];
      CHAR_INFO& written = buffer[std::size_t(y) * width + x];
      written.Char.UnicodeChar = eightBit != nullptr && !cell.wide
                                 ? eightBit[static_cast<unsigned char>(cell.character)]
                                 : Widened(cell.character);
      written.Attributes = cell.attribute;
    }
  }
  SMALL_RECT region{static_cast<SHORT>(area.left), static_cast<SHORT>(row - 1 + area.top),
                    static_cast<SHORT>(area.right), static_cast<SHORT>(row - 1 + area.bottom)};
  WriteConsoleOutputW(out, buffer, COORD{static_cast<SHORT>(width), static_cast<SHORT>(height)},
                      COORD{0, 0}, &region);
}

void KeepCursorHidden() {
  HANDLE out = Out();
  if (IsConsole(out)) HideCursor(out);
}

void RunCommand(const char* command) {
  std::system(command);
  // The command shared the console: it may have shown the cursor, set other colours or
  // cleared the screen.
  Known& known = State();
  known.cursorHidden = false;
  known.attribute = -1;
  known.codePageKnown = false;
}

}  // namespace console
