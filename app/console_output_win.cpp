#include "app/console_output_win.h"

#include <string>

#include "app/target_settings.h"

namespace console {
namespace {

std::recursive_mutex& Mutex() {
  static std::recursive_mutex mutex;
  return mutex;
}

HANDLE Out() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

// Program texts are 8-bit Latin-1; each byte is its own code point. The buffer is reused
// (under the console lock) so the status line costs no allocation per pass.
std::wstring_view Widen(std::string_view text) {
  static std::wstring wide;
  wide.resize(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
  return wide;
}

void WriteRaw(const void* data, DWORD bytes) {
  DWORD written = 0;
  WriteFile(Out(), data, bytes, &written, nullptr);
}

}  // namespace

std::unique_lock<std::recursive_mutex> Lock() { return std::unique_lock(Mutex()); }

void WriteWide(std::wstring_view text) {
  auto lock = Lock();
  HANDLE out = Out();
  if (IsConsole(out)) {
    DWORD written = 0;
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  // Redirected output gets UTF-8.
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                  nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                      bytes, nullptr, nullptr);
  WriteRaw(utf8.data(), static_cast<DWORD>(utf8.size()));
}

void Write(std::string_view text) {
  if (text.empty()) return;
  auto lock = Lock();
  HANDLE out = Out();
  if (Target().wideConsoleText || !IsConsole(out)) {
    WriteWide(Widen(text));
    return;
  }
  DWORD written = 0;
  WriteConsoleA(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void PrintLine(std::string_view text) {
  auto lock = Lock();
  Write(text);
  Write("\r\n");
}

void MoveTo(unsigned row, unsigned column) {
  auto lock = Lock();
  HANDLE out = Out();
  COORD where{static_cast<SHORT>(column - 1), static_cast<SHORT>(row - 1)};
  SetConsoleCursorPosition(out, where);
  CONSOLE_CURSOR_INFO cursor{};
  GetConsoleCursorInfo(out, &cursor);
  if (cursor.dwSize == 0) cursor.dwSize = 25;
  cursor.bVisible = FALSE;
  SetConsoleCursorInfo(out, &cursor);
}

void SetColours(unsigned text, unsigned back) {
  SetConsoleTextAttribute(Out(), static_cast<WORD>(text + 16 * back));
}

}  // namespace console
