// "d" and the loop's poll: the save folder beside the program, the one-copy-at-a-time
// hand-over through downloadState, and a copy that keeps to the song it started with.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "app/console_output_win.h"
#include "app/player_state.h"
#include "audio/audio_library_win.h"
#include "tests/win/support/captured_output.h"
#include "tests/win/support/fake_winhttp.h"
#include "tests/win/support/scratch_folder.h"
#include "web/save_copy.h"
#include "web/save_copy_win.h"

namespace {

constexpr const char* kHost = "save-copy-test.invalid";

// Holds the copy's response back until the test lets it go.
HANDLE responseGate = nullptr;

BOOL WINAPI GatedReceive(HttpHandle, LPVOID) {
  WaitForSingleObject(responseGate, 10000);
  return TRUE;
}

bool WaitForState(DownloadState state) {
  for (int i = 0; i < 1000; ++i) {
    if (Player().downloadState == state) return true;
    Sleep(5);
  }
  return false;
}

int Count(const std::vector<std::string>& calls, const std::string& name) {
  return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

class StartDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    responseGate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    PlayerState& player = Player();
    player.host = kHost;
    player.pageUrl = std::string("https://") + kHost + "/listen/7";
    player.title = "Seven.mp3";
    player.fileSize = 6;
    player.httpSession = reinterpret_cast<HttpHandle>(0x1001);
    player.statusRow = 5;
    player.downloadState = DownloadState::Idle;
    fake.body = "sevens";
  }

  void TearDown() override {
    SetEvent(responseGate);
    if (Player().downloadState != DownloadState::Idle) WaitForState(DownloadState::Finished);
    PollDownload();
    CloseHandle(responseGate);
    Player().httpSession = nullptr;
    Player().fileSize = -1;
  }

  CapturedOutput quiet;
  FakeWinHttp fake;
  ScratchFolder folder{SaveFolderPath(ProgramDirectory(), kHost)};
};

TEST_F(StartDownloadTest, ACopyLandsInTheFolderNamedAfterTheHostBesideTheProgram) {
  folder.Remove();
  StartDownload();
  ASSERT_TRUE(WaitForState(DownloadState::Finished));
  EXPECT_EQ(ReadWholeFile(folder / "Seven.mp3"), "sevens");
  EXPECT_EQ(fake.objectName, L"/listen/7");
}

TEST_F(StartDownloadTest, WithoutASongTheFolderIsMadeButNothingStarts) {
  folder.Remove();
  Player().fileSize = -1;
  StartDownload();
  EXPECT_EQ(GetFileAttributesA(folder.path().c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(Player().downloadState, DownloadState::Idle);
  Sleep(50);
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(StartDownloadTest, SongsThatCannotBeSavedStartNothing) {
  struct Case {
    const char* title;
    std::int64_t size;
  };
  for (const Case& c :
       {Case{"..", 6}, Case{"", 6}, Case{"big.mp3", std::int64_t{1} << 31}, Case{"empty.mp3", 0}}) {
    Player().title = c.title;
    Player().fileSize = c.size;
    StartDownload();
    EXPECT_EQ(Player().downloadState, DownloadState::Idle) << c.title;
  }
  Sleep(50);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(StartDownloadTest, APressWhileACopyRunsStartsNoSecondOne) {
  WinHttp().WinHttpReceiveResponse = GatedReceive;
  StartDownload();
  EXPECT_EQ(Player().downloadState, DownloadState::Running);
  StartDownload();
  PollDownload();  // not finished yet: nothing to do
  StartDownload();
  SetEvent(responseGate);
  ASSERT_TRUE(WaitForState(DownloadState::Finished));
  EXPECT_EQ(Count(fake.calls, "OpenRequest"), 1);
  EXPECT_EQ(ReadWholeFile(folder / "Seven.mp3"), "sevens");
}

TEST_F(StartDownloadTest, TheCopyKeepsToTheSongThatWasCurrentWhenItStarted) {
  WinHttp().WinHttpReceiveResponse = GatedReceive;
  fake.body = "the seventh song";
  Player().fileSize = 16;
  StartDownload();
  // The user skips on while the copy waits for its response.
  Player().pageUrl = std::string("https://") + kHost + "/listen/8";
  Player().title = "Eight.mp3";
  Player().fileSize = 3;
  SetEvent(responseGate);
  ASSERT_TRUE(WaitForState(DownloadState::Finished));
  EXPECT_EQ(fake.objectName, L"/listen/7");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"Seven.mp3"});
  EXPECT_EQ(ReadWholeFile(folder / "Seven.mp3"), "the seventh song");
}

TEST_F(StartDownloadTest, ThePollHandsBackTheStateOnlyOnceFinishedAndWritesNothing) {
  CapturedOutput output;
  PollDownload();
  StartDownload();
  ASSERT_TRUE(WaitForState(DownloadState::Finished));
  PollDownload();
  EXPECT_EQ(Player().downloadState, DownloadState::Idle);
  PollDownload();
  EXPECT_EQ(output.Text(), "") << "the screen's main thread alone writes its rows";

  // And "d" works again, fetching and replacing the file.
  fake.body = "SEVENS";
  fake.bodyOffset = 0;
  StartDownload();
  ASSERT_TRUE(WaitForState(DownloadState::Finished));
  EXPECT_EQ(ReadWholeFile(folder / "Seven.mp3"), "SEVENS");
}

TEST_F(StartDownloadTest, ACopyThatEndedOnItsErrorLineLeavesTheRowToIt) {
  fake.receiveSucceeds = false;
  CapturedOutput output;
  StartDownload();
  ASSERT_TRUE(WaitForState(DownloadState::Finished));
  PollDownload();
  EXPECT_EQ(Player().downloadState, DownloadState::Idle);
  EXPECT_NE(output.Text().find("_WinHttpReceiveResponse!"), std::string::npos);
  EXPECT_EQ(output.Text().find(std::string(31, ' ')), std::string::npos) << output.Text();
}

// ---- a copy running at quit --------------------------------------------------------

HANDLE readGate = nullptr;
std::atomic<bool> reading{false};

BOOL WINAPI GatedRead(HttpHandle, LPVOID, DWORD, LPDWORD read) {
  reading = true;
  WaitForSingleObject(readGate, 10000);
  *read = 0;
  return FALSE;
}

using QuitDuringACopyTest = StartDownloadTest;

TEST_F(QuitDuringACopyTest, WinHttpStaysLoadedUntilTheCopyHasEnded) {
  ASSERT_EQ(GetModuleHandleA("winhttp.dll"), nullptr);
  // The copy's calls go to the fake, its response held back; its read entry is the real
  // library's, which quitting unloads.
  HMODULE library = LoadLibraryA("Winhttp.dll");
  ASSERT_NE(library, nullptr);
  WinHttp().WinHttpReadData = reinterpret_cast<BOOL(WINAPI*)(HttpHandle, LPVOID, DWORD, LPDWORD)>(
      reinterpret_cast<void*>(GetProcAddress(library, "WinHttpReadData")));
  WinHttp().WinHttpReceiveResponse = GatedReceive;
  StartDownload();
  FreeLibrary(library);  // as quitting does
  EXPECT_NE(GetModuleHandleA("winhttp.dll"), nullptr) << "unloaded under the running copy";
  SetEvent(responseGate);
  ASSERT_TRUE(WaitForState(DownloadState::Finished));
  for (int i = 0; i < 400 && GetModuleHandleA("winhttp.dll") != nullptr; ++i) Sleep(5);
  EXPECT_EQ(GetModuleHandleA("winhttp.dll"), nullptr) << "the copy never let go";
}

// Giving up keeps the console and stops every later file for good, so these run in a
// process of their own.
TEST_F(QuitDuringACopyTest, ACopyGivenUpWhileReadingWritesNoFile) {
  EXPECT_EXIT(
      {
        readGate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        WinHttp().WinHttpReadData = GatedRead;
        StartDownload();
        while (!reading) Sleep(1);
        AbandonDownload();
        SetEvent(readGate);
        const bool finished = WaitForState(DownloadState::Finished);
        Sleep(50);
        ExitProcess(finished && folder.Names().empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(QuitDuringACopyTest, AResponseArrivingAfterQuitShowsNothing) {
  EXPECT_EXIT(
      {
        WinHttp().WinHttpReceiveResponse = GatedReceive;
        CapturedOutput output;
        StartDownload();
        AbandonDownload();
        console::PrintLine("Bye....");
        SetEvent(responseGate);
        Sleep(300);
        ExitProcess(output.Text() == "Bye....\r\n" && folder.Names().empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
