// The cheapest loop that draws what the players draw: every 15 ms one look at the keyboard
// (PeekConsoleInput) and one write of three 90-column rows with their colours
// (WriteConsoleOutput), a clock ticking in the first. The benchmark runs it beside the
// players to show what such a loop costs on the machine at hand. Ends after the seconds
// given (default 60) or at any key.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const DWORD seconds = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 60;
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  constexpr SHORT kColumns = 90, kRows = 3;
  CHAR_INFO cells[kRows * kColumns];
  const ULONGLONG began = GetTickCount64();
  for (;;) {
    INPUT_RECORD record{};
    DWORD count = 0;
    if (PeekConsoleInputW(in, &record, 1, &count) && count > 0) break;
    const ULONGLONG now = GetTickCount64() - began;
    if (now >= seconds * 1000ull) break;
    char line[kColumns + 1];
    const int length =
        std::snprintf(line, sizeof line, "Played:  %05.2f %% / %.2f s / %llu ms / volume: 15",
                      now / 600.0, 60.0 - now / 1000.0, now);
    for (int i = 0; i < kRows * kColumns; ++i) {
      const char c = i < length && i < kColumns ? line[i] : ' ';
      cells[i].Char.UnicodeChar = static_cast<unsigned char>(c);
      cells[i].Attributes = i >= 2 * kColumns ? 0x1F : 0x4F;
    }
    SMALL_RECT region{0, 5, kColumns - 1, 5 + kRows - 1};
    WriteConsoleOutputW(out, cells, COORD{kColumns, kRows}, COORD{0, 0}, &region);
    Sleep(15);
  }
  return 0;
}
