#pragma once
// What each key of the player does. Keys are recognised by their exact text: one
// character for a plain key, two for an extended key (arrows, function keys), empty for
// none. Letters count in lower case only, and extended keys match nothing.
#include <string>

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
