#pragma once
// What each key of the player does. Keys are recognised by their exact text: one
// character for a plain key, two for an extended key (arrows, function keys, and any key
// typed with Alt), empty for none. Letters count in lower case only, and extended keys
// match nothing.
#include <cstdint>
#include <string>

// One console input event as the console reports it.
struct KeyEvent {
  bool keyDown = false;
  std::uint16_t virtualKey = 0;
  std::uint16_t scanCode = 0;
  char16_t character = 0;
  std::uint32_t controlState = 0;  // the console's modifier flags (Alt, Ctrl, ...)
};

// The text of a typed key, or empty for an event a reader of typed keys skips (a key
// released, a modifier pressed on its own). Alt with a key makes it an extended key, as a
// reader of typed keys has always seen it ("\0" and the scan code), so Alt+q is not "q";
// AltGr (reported as right Alt with left Ctrl) types an ordinary character, which keeps
// its meaning.
std::string TextOfKeyEvent(const KeyEvent& event);

enum class KeyAction {
  None,              // no key was waiting
  Ignored,           // a key that does nothing (still drained)
  Quit,              // Esc, "q"
  NextSong,          // Space
  Restart,           // Backspace: the current song from its start
  PauseOrResume,     // "p"
  VolumeUp,          // "+"
  VolumeDown,        // "-"
  RandomOrder,       // "0"
  NewestFirstOrder,  // "1"
  SaveCopy,          // "d"
};

KeyAction ActionOfKey(const std::string& key);

// Every key but the quit keys has its repeats swallowed before it acts, so a held key or
// a queue of the same key acts once.
bool IsDrained(KeyAction action);

// Swallows the repeats of `key`: reads again and again, pausing 5 ms after each read, as
// long as the same key text comes back. The first other read ends it; a different key
// read then is lost. Returns the number of repeats swallowed.
template <class ReadKey, class Pause>
int DrainRepeats(const std::string& key, ReadKey&& readKey, Pause&& pauseMilliseconds) {
  int repeats = 0;
  for (;;) {
    const std::string again = readKey();
    pauseMilliseconds(5);
    if (again != key) return repeats;
    ++repeats;
  }
}
