#include "console/console_commands.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The face name a font record's field holds, up to its terminator.
std::u16string FaceNameOf(const std::array<char16_t, 32>& field) {
  return std::u16string(field.begin(), std::find(field.begin(), field.end(), u'\0'));
}

}  // namespace

TEST(ResizeCommand, NoBlankBeforeLines) {
  EXPECT_EQ(ResizeCommand(90, 9), "MODE CON: COLS=90LINES=9");
  EXPECT_EQ(ResizeCommand(120, 30), "MODE CON: COLS=120LINES=30");
}

TEST(ResizeCommand, NoCommandForASizeThatCouldNotBeRead) {
  EXPECT_EQ(ResizeCommand(0, 30), "");
  EXPECT_EQ(ResizeCommand(120, -1), "");
}

TEST(FontFaceField, ShortNamesAreCopiedAndTerminated) {
  const auto field = FontFaceField(u"Consolas");
  EXPECT_EQ(FaceNameOf(field), u"Consolas");
  for (std::size_t i = 8; i < field.size(); ++i) EXPECT_EQ(field[i], u'\0');
}

TEST(FontFaceField, LongNamesAreCutToThirtyOneCharacters) {
  const std::u16string longName(40, u'x');
  const auto field = FontFaceField(longName);
  EXPECT_EQ(FaceNameOf(field), std::u16string(31, u'x'));
  EXPECT_EQ(field[31], u'\0');
  EXPECT_EQ(FaceNameOf(FontFaceField(std::u16string(31, u'y'))), std::u16string(31, u'y'));
}

TEST(FontFaceField, NeverKeepsHalfACharacter) {
  std::u16string name(30, u'a');
  name += u"\U0001F3B5";  // two code units, the 31st and 32nd
  EXPECT_EQ(FaceNameOf(FontFaceField(name)), std::u16string(30, u'a'));
}

TEST(ConsoleHasOwnFont, OnlyAConsoleWithARealCellHasAFontToChange) {
  EXPECT_TRUE(ConsoleHasOwnFont(8, 12));
  EXPECT_TRUE(ConsoleHasOwnFont(1, 1));
  EXPECT_FALSE(ConsoleHasOwnFont(0, 0));  // drawn by a terminal
  EXPECT_FALSE(ConsoleHasOwnFont(0, 16));
  EXPECT_FALSE(ConsoleHasOwnFont(8, 0));
  EXPECT_FALSE(ConsoleHasOwnFont(-8, 12));
}
