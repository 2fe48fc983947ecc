// The console set-up against a console with a real window (Wine draws one when a display
// is there: the console-window end-to-end module runs these under Xvfb). Without a display
// the console has no font or size to work on, and the tests say so and skip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "console/console_commands.h"
#include "console/console_setup_win.h"

namespace {

std::u16string FaceOf(const CONSOLE_FONT_INFOEX& font) {
  return std::u16string(reinterpret_cast<const char16_t*>(font.FaceName));
}

// Our MODE stand-in is built beside the programs; the command interpreter finds it there.
void PutModeOnPath() {
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  std::string folder(exe);
  folder = folder.substr(0, folder.rfind('\\'));  // ...\tests
  folder = folder.substr(0, folder.rfind('\\')) + "\\bin";
  char path[8192] = {};
  GetEnvironmentVariableA("PATH", path, sizeof(path));
  SetEnvironmentVariableA("PATH", (folder + ";" + path).c_str());
}

class ConsoleSetupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    savedOut = GetStdHandle(STD_OUTPUT_HANDLE);
    // A console of the suite's own, whatever the test runner gave us.
    FreeConsole();
    AllocConsole();
    SetStdHandle(STD_OUTPUT_HANDLE, CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    PutModeOnPath();
  }

  static void TearDownTestSuite() {
    CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
    SetStdHandle(STD_OUTPUT_HANDLE, savedOut);
  }

  void SetUp() override {
    const CONSOLE_FONT_INFOEX font = QueryConsoleFont();
    if (GetConsoleWindow() == nullptr || !ConsoleHasOwnFont(font.dwFontSize.X, font.dwFontSize.Y)) {
      // A run meant to have a display says so; there a missing window is a failure.
      if (std::getenv("TUNER_TESTS_NEED_DISPLAY") != nullptr) FAIL() << "no console window";
      GTEST_SKIP() << "no console window here (no display)";
    }
    // Every test starts from the same console.
    ResizeConsole(80, 25);
    ApplyConsoleFont(8, 16, FaceOf(font), font.nFont, 400, font.FontFamily);
    start = SaveConsoleShape();
  }

  static HANDLE savedOut;
  SavedConsoleShape start;
};

HANDLE ConsoleSetupTest::savedOut = nullptr;

TEST_F(ConsoleSetupTest, ResizingRunsTheCommandAndWaitsForIt) {
  ResizeConsole(90, 9);
  int columns = 0, lines = 0;
  QueryConsoleWindowSize(columns, lines);
  EXPECT_EQ(columns, 90);
  EXPECT_EQ(lines, 9);
  ResizeConsole(120, 30);
  QueryConsoleWindowSize(columns, lines);
  EXPECT_EQ(columns, 120);
  EXPECT_EQ(lines, 30);
}

TEST_F(ConsoleSetupTest, ThePlayersShapeIsGivenBackWhole) {
  ASSERT_EQ(start.columns, 80);
  ASSERT_EQ(start.lines, 25);
  ShapeConsole(start, 6, 10);
  int columns = 0, lines = 0;
  QueryConsoleWindowSize(columns, lines);
  EXPECT_EQ(columns, 90);
  EXPECT_EQ(lines, 9);
  const CONSOLE_FONT_INFOEX shaped = QueryConsoleFont();
  EXPECT_NE(shaped.dwFontSize.Y, start.font.dwFontSize.Y) << "the font was not changed";
  EXPECT_GT(shaped.FontWeight, 400u) << "the heavy weight was not asked for";

  RestoreConsoleShape(start);
  QueryConsoleWindowSize(columns, lines);
  EXPECT_EQ(columns, 80);
  EXPECT_EQ(lines, 25);
  const CONSOLE_FONT_INFOEX restored = QueryConsoleFont();
  EXPECT_EQ(restored.dwFontSize.X, start.font.dwFontSize.X);
  EXPECT_EQ(restored.dwFontSize.Y, start.font.dwFontSize.Y);
  EXPECT_EQ(restored.FontWeight, start.font.FontWeight);
  EXPECT_EQ(FaceOf(restored), FaceOf(start.font));
}

TEST_F(ConsoleSetupTest, AConsoleThatReportedNoFontCellKeepsItsFont) {
  SavedConsoleShape noFont = start;
  noFont.font.dwFontSize = COORD{0, 0};  // as a terminal's console reports it
  ShapeConsole(noFont, 6, 10);
  CONSOLE_FONT_INFOEX font = QueryConsoleFont();
  EXPECT_EQ(font.dwFontSize.Y, start.font.dwFontSize.Y);
  EXPECT_EQ(font.FontWeight, start.font.FontWeight);

  ApplyConsoleFont(6, 10, kConsoleFace, 0, 800, 0);
  const CONSOLE_FONT_INFOEX changed = QueryConsoleFont();
  RestoreConsoleShape(noFont);
  font = QueryConsoleFont();
  EXPECT_EQ(font.dwFontSize.Y, changed.dwFontSize.Y) << "a font was restored";
  int columns = 0, lines = 0;
  QueryConsoleWindowSize(columns, lines);
  EXPECT_EQ(columns, 80);  // the size still comes back
}

TEST_F(ConsoleSetupTest, AnOverlongFaceIsCutAndStillTakenForAFont) {
  EXPECT_TRUE(ApplyConsoleFont(8, 16, std::u16string(40, u'Q'), 0, 400, 0));
  EXPECT_LE(FaceOf(QueryConsoleFont()).size(), 31u);
}

TEST_F(ConsoleSetupTest, AnUnknownSizeIsNotRestored) {
  SavedConsoleShape unknown = start;
  unknown.columns = 0;
  unknown.lines = 0;
  ResizeConsole(90, 9);
  RestoreConsoleShape(unknown);
  int columns = 0, lines = 0;
  QueryConsoleWindowSize(columns, lines);
  EXPECT_EQ(columns, 90);
  EXPECT_EQ(lines, 9);
}

TEST(DpiAwareness, TheProcessIsMadeAware) { EXPECT_NE(EnableDpiAwareness(), 0); }

}  // namespace
