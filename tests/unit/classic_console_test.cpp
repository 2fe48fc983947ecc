#include "console/classic_console.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

ConsoleSeen Seen(std::u16string windowClass, unsigned processes, bool visible = false,
                 int fontHeight = 0) {
  return {std::move(windowClass), visible, fontHeight / 2, fontHeight, processes};
}

// Runs the move with a host start that answers `answer`; the command lines it was given.
std::vector<std::u16string> Move(const ConsoleSeen& seen, HostStart answer, bool& ends,
                                 bool wineTerminalCounts = false) {
  std::vector<std::u16string> lines;
  ends = MoveToClassicConsole(seen, wineTerminalCounts, u"C:\\Windows\\System32\\conhost.exe",
                              u"C:\\My Apps\\listen_tuner.exe",
                              u"\"C:\\My Apps\\listen_tuner.exe\"  /order 2 \"/nolevel\"",
                              [&](const std::u16string& line) {
                                lines.push_back(line);
                                return answer;
                              });
  return lines;
}

}  // namespace

TEST(ClassicConsole, OnlyAProgramAloneOnAPseudoConsoleMoves) {
  bool ends = false;
  const auto lines = Move(Seen(u"PseudoConsoleWindow", 1), HostStart::Running, ends);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            u"\"C:\\Windows\\System32\\conhost.exe\" \"C:\\My Apps\\listen_tuner.exe\" "
            u"/order 2 \"/nolevel\"");
  EXPECT_TRUE(ends);
  // Started from a shell in the terminal, in the classic host, in Wine's console, or with no
  // console window: the program stays, and nothing is started.
  for (const ConsoleSeen& seen :
       {Seen(u"PseudoConsoleWindow", 2), Seen(u"PseudoConsoleWindow", 0),
        Seen(u"ConsoleWindowClass", 1, true, 16), Seen(u"WineConsoleClass", 1), Seen(u"", 1)}) {
    EXPECT_TRUE(Move(seen, HostStart::Running, ends).empty());
    EXPECT_FALSE(ends);
  }
}

TEST(ClassicConsole, AFailedStartRunsOnWhereItIs) {
  for (HostStart answer : {HostStart::Failed, HostStart::EndedAtOnce}) {
    bool ends = true;
    EXPECT_EQ(Move(Seen(u"PseudoConsoleWindow", 1), answer, ends).size(), 1u);
    EXPECT_FALSE(ends);
  }
}

TEST(ClassicConsole, WinesTerminalConsoleCountsOnlyForTheTests) {
  bool ends = false;
  EXPECT_EQ(Move(Seen(u"WineConsoleClass", 1), HostStart::Running, ends, true).size(), 1u);
  EXPECT_TRUE(ends);
  // wineconsole's window is visible and has a font: the moved program never moves again.
  EXPECT_FALSE(ShouldMoveToClassicConsole(Seen(u"WineConsoleClass", 1, true, 16), true));
  EXPECT_FALSE(ShouldMoveToClassicConsole(Seen(u"WineConsoleClass", 1, false, 16), true));
  EXPECT_FALSE(ShouldMoveToClassicConsole(Seen(u"WineConsoleClass", 3), true));
}

TEST(ClassicConsole, ArgumentsFollowTheProgramNameAsWritten) {
  EXPECT_EQ(ArgumentsOf(u"\"C:\\a b\\p.exe\" /order 1"), u"/order 1");
  EXPECT_EQ(ArgumentsOf(u"p.exe\t /nolevel  \"x  y\" "), u"/nolevel  \"x  y\" ");
  EXPECT_EQ(ArgumentsOf(u"\"C:\\a b\\p.exe\""), u"");
  EXPECT_EQ(ArgumentsOf(u"p.exe"), u"");
  EXPECT_EQ(ArgumentsOf(u"\"C:\\unclosed /order 1"), u"");
  EXPECT_EQ(ArgumentsOf(u""), u"");
}

TEST(ClassicConsole, TheHostIsInTheRealSystemFolder) {
  EXPECT_EQ(ClassicConsoleHostPath(u"C:\\Windows", false, u"conhost.exe"),
            u"C:\\Windows\\System32\\conhost.exe");
  EXPECT_EQ(ClassicConsoleHostPath(u"D:\\WIN\\", true, u"conhost.exe"),
            u"D:\\WIN\\Sysnative\\conhost.exe");
}
