#include "app/player_loop_win.h"

#include <windows.h>

#include "app/key_reader_win.h"
#include "app/keys.h"

void RunPlayerLoop() {
  for (;;) {
    const std::string key = ReadKey();
    if (IsQuitKey(key)) return;
    if (!key.empty()) {
      // Held keys repeat; the repeats are swallowed so one press acts once.
      std::string again;
      do {
        again = ReadKey();
        Sleep(5);
      } while (again == key);
    }
    Sleep(15);
  }
}
