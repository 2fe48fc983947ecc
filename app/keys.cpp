#include "app/keys.h"

KeyAction ActionOfKey(const std::string& key) {
  if (key.empty()) return KeyAction::None;
  if (key.size() != 1) return KeyAction::Ignored;
  switch (key[0]) {
    case '\x1b':
    case 'q':
      return KeyAction::Quit;
    case ' ':
      return KeyAction::NextSong;
    case '\b':
      return KeyAction::Restart;
    case 'p':
      return KeyAction::PauseOrResume;
    case '+':
      return KeyAction::VolumeUp;
    case '-':
      return KeyAction::VolumeDown;
    case '0':
      return KeyAction::RandomOrder;
    case '1':
      return KeyAction::NewestFirstOrder;
    case 'd':
      return KeyAction::SaveCopy;
    default:
      return KeyAction::Ignored;
  }
}


bool IsDrained(KeyAction action) { return action != KeyAction::None && action != KeyAction::Quit; }
