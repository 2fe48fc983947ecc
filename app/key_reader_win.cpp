#include "app/key_reader_win.h"

#include <windows.h>

namespace {

HANDLE In() { return GetStdHandle(STD_INPUT_HANDLE); }

bool IsModifierOnly(const KEY_EVENT_RECORD& key) {
  switch (key.wVirtualKeyCode) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK:
    case VK_SCROLL: case VK_LWIN: case VK_RWIN: case VK_LSHIFT: case VK_RSHIFT:
    case VK_LCONTROL: case VK_RCONTROL: case VK_LMENU: case VK_RMENU:
      return true;
    default:
      return false;
  }
}

// The text of a key-down event, or empty for events a reader of typed keys skips.
std::string TextOf(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT) return {};
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  if (!key.bKeyDown || IsModifierOnly(key)) return {};
  const wchar_t c = key.uChar.UnicodeChar;
  if (c != 0) return std::string(1, c < 0x100 ? static_cast<char>(c) : '?');
  // Wine delivers Esc with no character; Windows gives it character 27.
  if (key.wVirtualKeyCode == VK_ESCAPE) return std::string(1, '\x1b');
  return std::string{'\xE0', static_cast<char>(key.wVirtualScanCode & 0xFF)};
}

// Drops leading events that carry no typed key; true when a typed key is next.
bool SkipToTypedKey() {
  HANDLE in = In();
  // A wait of no time answers from the console's own state, with no request to its host
  // as a peek makes: the common case, nothing typed, costs one call instead of several.
  if (WaitForSingleObject(in, 0) == WAIT_TIMEOUT) return false;
  for (;;) {
    // PeekConsoleInput also makes a terminal-drawn console read what was typed.
    INPUT_RECORD record{};
    DWORD count = 0;
    if (!PeekConsoleInputW(in, &record, 1, &count) || count == 0) return false;
    if (!TextOf(record).empty()) return true;
    ReadConsoleInputW(in, &record, 1, &count);
  }
}

}  // namespace

bool KeyWaiting() { return SkipToTypedKey(); }

std::string ReadKey() {
  if (!SkipToTypedKey()) return {};
  INPUT_RECORD record{};
  DWORD count = 0;
  ReadConsoleInputW(In(), &record, 1, &count);
  return count == 1 ? TextOf(record) : std::string{};
}
