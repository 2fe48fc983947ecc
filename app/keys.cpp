#include "app/keys.h"

namespace {

// The console's own numbers for the keys and flags read here.
constexpr std::uint16_t kEscapeKey = 0x1B;
constexpr std::uint32_t kRightAlt = 0x0001;
constexpr std::uint32_t kLeftAlt = 0x0002;
constexpr std::uint32_t kLeftCtrl = 0x0008;

bool IsModifierOnly(std::uint16_t virtualKey) {
  switch (virtualKey) {
    case 0x10: case 0x11: case 0x12:  // Shift, Ctrl, Alt
    case 0x14: case 0x90: case 0x91:  // Caps Lock, Num Lock, Scroll Lock
    case 0x5B: case 0x5C:             // the Windows keys
    case 0xA0: case 0xA1: case 0xA2: case 0xA3: case 0xA4: case 0xA5:  // left and right
      return true;
    default:
      return false;
  }
}

bool AltHeld(std::uint32_t controlState) {
  if (controlState & kLeftAlt) return true;
  // Right Alt with left Ctrl is how the console reports AltGr.
  return (controlState & kRightAlt) != 0 && (controlState & kLeftCtrl) == 0;
}

std::string ExtendedKey(std::uint16_t scanCode) {
  return std::string{'\0', static_cast<char>(scanCode & 0xFF)};
}

}  // namespace

std::string TextOfKeyEvent(const KeyEvent& event) {
  if (!event.keyDown || IsModifierOnly(event.virtualKey)) return {};
  if (AltHeld(event.controlState)) return ExtendedKey(event.scanCode);
  const char16_t c = event.character;
  if (c != 0) return std::string(1, c < 0x100 ? static_cast<char>(c) : '?');
  // Wine delivers Esc with no character; Windows gives it character 27.
  if (event.virtualKey == kEscapeKey) return std::string(1, '\x1b');
  return std::string{'\xE0', static_cast<char>(event.scanCode & 0xFF)};
}

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
