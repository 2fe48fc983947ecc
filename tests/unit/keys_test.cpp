#include "app/keys.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

namespace {

// A keyboard whose waiting keys are known in advance; empty once they are used up.
struct QueuedKeys {
  std::deque<std::string> waiting;
  std::vector<int> pauses;
  std::string Read() {
    if (waiting.empty()) return {};
    std::string key = waiting.front();
    waiting.pop_front();
    return key;
  }
  int Drain(const std::string& key) {
    return DrainRepeats(
        key, [this] { return Read(); },
        [this](int milliseconds) { pauses.push_back(milliseconds); });
  }
};

}  // namespace

TEST(Keys, EachKeyHasItsAction) {
  EXPECT_EQ(ActionOfKey("\x1b"), KeyAction::Quit);
  EXPECT_EQ(ActionOfKey("q"), KeyAction::Quit);
  EXPECT_EQ(ActionOfKey(" "), KeyAction::NextSong);
  EXPECT_EQ(ActionOfKey("\b"), KeyAction::Restart);
  EXPECT_EQ(ActionOfKey("p"), KeyAction::PauseOrResume);
  EXPECT_EQ(ActionOfKey("+"), KeyAction::VolumeUp);
  EXPECT_EQ(ActionOfKey("-"), KeyAction::VolumeDown);
  EXPECT_EQ(ActionOfKey("0"), KeyAction::RandomOrder);
  EXPECT_EQ(ActionOfKey("1"), KeyAction::NewestFirstOrder);
  EXPECT_EQ(ActionOfKey("d"), KeyAction::SaveCopy);
  EXPECT_EQ(ActionOfKey(""), KeyAction::None);
}

TEST(Keys, UpperCaseLettersAndExtendedKeysDoNothing) {
  for (const char* key : {"Q", "P", "D", "x", "2", "\r"}) {
    EXPECT_EQ(ActionOfKey(key), KeyAction::Ignored) << key;
  }
  // Extended keys arrive as two characters, even when one of them looks like a key.
  for (const std::string& key : {std::string("\0H", 2), std::string("\xe0P"), std::string("qq"),
                                 std::string("\x1b\x1b"), std::string("d ")}) {
    EXPECT_EQ(ActionOfKey(key), KeyAction::Ignored);
  }
  EXPECT_NE(ActionOfKey(std::string("\0\x1b", 2)), KeyAction::Quit);
}

// The console's modifier flags, as it reports them with each key.
constexpr std::uint32_t kRightAlt = 0x1, kLeftAlt = 0x2, kLeftCtrl = 0x8, kCapsLockOn = 0x80;

KeyEvent Typed(char16_t character, std::uint32_t controlState = 0, std::uint16_t virtualKey = 0) {
  return {.keyDown = true, .virtualKey = virtualKey, .scanCode = 0x10,
          .character = character, .controlState = controlState};
}

TEST(KeyText, AltWithAKeyMatchesNothingAltGrCharactersKeepTheirMeaning) {
  EXPECT_EQ(ActionOfKey(TextOfKeyEvent(Typed(u'q', kCapsLockOn))), KeyAction::Quit);
  for (char16_t c : {u'q', u'd', u'p', u' ', u'0', u'1', u'+', u'\x1b'}) {
    for (std::uint32_t alt : {kLeftAlt, kRightAlt, kRightAlt | kLeftCtrl | kLeftAlt}) {
      const std::string text = TextOfKeyEvent(Typed(c, alt));
      EXPECT_EQ(text.size(), 2u) << int(c) << " with " << alt;
      EXPECT_EQ(ActionOfKey(text), KeyAction::Ignored) << int(c) << " with " << alt;
    }
  }
  // AltGr is reported as right Alt with left Ctrl: what it types is an ordinary character.
  EXPECT_EQ(ActionOfKey(TextOfKeyEvent(Typed(u'+', kRightAlt | kLeftCtrl))), KeyAction::VolumeUp);
  EXPECT_EQ(ActionOfKey(TextOfKeyEvent(Typed(u'q', kRightAlt | kLeftCtrl))), KeyAction::Quit);
}

TEST(KeyText, WhatTheConsoleReportsBecomesTheKeysText) {
  EXPECT_EQ(TextOfKeyEvent(Typed(u'p')), "p");
  EXPECT_EQ(TextOfKeyEvent(Typed(0, 0, 0x1B)), "\x1b");  // Esc as Wine reports it
  EXPECT_EQ(TextOfKeyEvent(Typed(0, 0, 0x26)), "\xE0\x10");  // an arrow: extended
  EXPECT_EQ(TextOfKeyEvent(Typed(u'\u0444')), "?");  // beyond 8 bits: a key of no action
  KeyEvent released = Typed(u'q');
  released.keyDown = false;
  EXPECT_EQ(TextOfKeyEvent(released), "");
  for (std::uint16_t modifier : {0x10, 0x11, 0x12, 0x14, 0xA4, 0xA5}) {
    EXPECT_EQ(TextOfKeyEvent(Typed(0, kLeftAlt, modifier)), "") << modifier;
  }
}

TEST(Keys, EveryKeyButTheQuitKeysIsDrained) {
  EXPECT_FALSE(IsDrained(ActionOfKey("q")));
  EXPECT_FALSE(IsDrained(ActionOfKey("\x1b")));
  EXPECT_FALSE(IsDrained(ActionOfKey("")));
  for (const char* key : {" ", "\b", "p", "+", "-", "0", "1", "d", "Q", "x"}) {
    EXPECT_TRUE(IsDrained(ActionOfKey(key))) << key;
  }
}

TEST(DrainRepeats, QueuedSpacesCountAsOnePress) {
  QueuedKeys keys{{" ", " ", " "}, {}};
  EXPECT_EQ(keys.Drain(" "), 3);
  EXPECT_TRUE(keys.waiting.empty());
  // Every read is followed by a 5 ms pause, the last (empty) one included.
  EXPECT_EQ(keys.pauses, std::vector<int>(4, 5));
}

TEST(DrainRepeats, ADifferentKeyEndsTheDrainAndIsLost) {
  QueuedKeys keys{{"+", "+", "p", "d"}, {}};
  EXPECT_EQ(keys.Drain("+"), 2);
  // "p" was read and dropped; only what came after it is still waiting.
  ASSERT_EQ(keys.waiting.size(), 1u);
  EXPECT_EQ(keys.waiting.front(), "d");
}

TEST(DrainRepeats, NoRepeatStillTakesOneRead) {
  QueuedKeys keys{{}, {}};
  EXPECT_EQ(keys.Drain("p"), 0);
  EXPECT_EQ(keys.pauses, std::vector<int>{5});
}
