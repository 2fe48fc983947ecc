#include "app/key_reader_win.h"

#include <windows.h>

#include "app/keys.h"

namespace {

HANDLE In() { return GetStdHandle(STD_INPUT_HANDLE); }

// The text of an input event (see TextOfKeyEvent), or empty for events that are no key.
std::string TextOf(const INPUT_RECORD& record) {
  if (record.EventType != KEY_EVENT) return {};
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  return TextOfKeyEvent({.keyDown = key.bKeyDown != FALSE,
                         .virtualKey = key.wVirtualKeyCode,
                         .scanCode = key.wVirtualScanCode,
                         .character = static_cast<char16_t>(key.uChar.UnicodeChar),
                         .controlState = key.dwControlKeyState});
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
