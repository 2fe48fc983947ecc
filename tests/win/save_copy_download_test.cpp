// The copy thread's work against a fake WinHTTP, run on the test's thread: what it asks
// for, what it shows, and the file it leaves in a folder of the test's own.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "app/player_state.h"
#include "tests/win/support/captured_output.h"
#include "tests/win/support/fake_winhttp.h"
#include "tests/win/support/scratch_folder.h"
#include "web/save_copy_win.h"

namespace {

HttpHandle const kConnection = reinterpret_cast<HttpHandle>(0x1002);

std::string Song(std::size_t size) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>((i * 31 + 7) % 251);
  return bytes;
}

class DownloadSongTest : public ::testing::Test {
 protected:
  DownloadJob Job(const std::string& title, std::int64_t fileSize) {
    std::optional<SaveCopyPlan> plan = PlanSaveCopy("https://listen.tuner.test/listen/42", title,
                                                    fileSize, "listen.tuner.test", folder.path());
    EXPECT_TRUE(plan);
    return DownloadJob{*plan, folder.path(), kConnection, 6, 15, 4};
  }

  void TearDown() override { Player().downloadState = DownloadState::Idle; }

  CapturedOutput quiet;  // keeps the row's text out of the test report
  FakeWinHttp fake;
  ScratchFolder folder;
};

TEST_F(DownloadSongTest, ABodyOfTheReportedSizeIsSavedAsItIsOverOneHttpsGet) {
  const std::string song = Song(70000);
  fake.body = song;
  fake.readSizes = {8192, 1, 5000};
  Player().downloadState = DownloadState::Running;
  CapturedOutput output;
  DownloadSong(Job("Blue Hour.mp3", 70000));

  EXPECT_EQ(ReadWholeFile(folder / "Blue Hour.mp3"), song);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"Blue Hour.mp3"});
  EXPECT_EQ(fake.verb, L"GET");
  EXPECT_EQ(fake.objectName, L"/listen/42");
  EXPECT_EQ(fake.version, L"HTTP/1.1");
  EXPECT_TRUE(fake.referrerWasNull);
  EXPECT_EQ(fake.flags, 0x800040u);
  EXPECT_TRUE(fake.headersWereNull);
  // The inherited redirect handler is taken off the copy's request before it is sent.
  ASSERT_GE(fake.calls.size(), 3u);
  EXPECT_EQ(fake.calls[1], "SetStatusCallback");
  EXPECT_EQ(fake.installed, nullptr);
  EXPECT_EQ(fake.calls.back(), "Close");
  EXPECT_EQ(fake.closed, 1);
  EXPECT_EQ(output.Text(), "Downloading...");
  EXPECT_EQ(Player().downloadState, DownloadState::Finished);
}

TEST_F(DownloadSongTest, TheFileHasTheReportedSizeWhateverTheBodyBrings) {
  const std::string song = Song(5000);
  fake.body = song;
  DownloadSong(Job("long.mp3", 3000));
  EXPECT_EQ(ReadWholeFile(folder / "long.mp3"), song.substr(0, 3000));

  FakeWinHttp shorter;
  shorter.body = song;
  DownloadSong(Job("short.mp3", 6500));
  EXPECT_EQ(ReadWholeFile(folder / "short.mp3"), song + std::string(1500, '\0'));

  FakeWinHttp empty;
  DownloadSong(Job("empty.mp3", 10));
  EXPECT_EQ(ReadWholeFile(folder / "empty.mp3"), std::string(10, '\0'));
}

TEST_F(DownloadSongTest, AnEarlierCopyOfTheSameNameIsReplacedNotAppendedTo) {
  WriteWholeFile(folder / "again.mp3", std::string(9000, 'x'));
  fake.body = "fresh";
  DownloadSong(Job("again.mp3", 5));
  EXPECT_EQ(ReadWholeFile(folder / "again.mp3"), "fresh");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"again.mp3"});
}

TEST_F(DownloadSongTest, ARequestThatCannotBeOpenedShowsAndWritesNothing) {
  WinHttp().WinHttpOpenRequest = [](HttpHandle, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR*,
                                    DWORD) -> HttpHandle { return nullptr; };
  CapturedOutput output;
  Player().downloadState = DownloadState::Running;
  DownloadSong(Job("nothing.mp3", 100));
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_EQ(output.Text(), "");
  EXPECT_EQ(fake.closed, 0);
  EXPECT_EQ(Player().downloadState, DownloadState::Finished);
}

TEST_F(DownloadSongTest, AResponseThatNeverArrivesPrintsTheReceiveErrorAndWritesNothing) {
  fake.receiveSucceeds = false;
  fake.body = "never read";
  CapturedOutput output;
  DownloadSong(Job("nothing.mp3", 100));
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_EQ(output.Text(), "Error 12002 in function _WinHttpReceiveResponse!\r\n");
  EXPECT_EQ(fake.bodyOffset, 0u);
  EXPECT_EQ(fake.closed, 1);
  EXPECT_EQ(Player().downloadState, DownloadState::Finished);
}

TEST_F(DownloadSongTest, ABodyCutShortByAFailingReadIsPaddedNotRetriedForEver) {
  static int reads = 0;
  reads = 0;
  WinHttp().WinHttpQueryDataAvailable = [](HttpHandle, LPDWORD available) -> BOOL {
    *available = 4;  // claims more every time
    return TRUE;
  };
  WinHttp().WinHttpReadData = [](HttpHandle, LPVOID buffer, DWORD, LPDWORD read) -> BOOL {
    if (++reads > 2) {
      *read = 0;
      return FALSE;
    }
    std::memcpy(buffer, "abcd", 4);
    *read = 4;
    return TRUE;
  };
  DownloadSong(Job("cut.mp3", 12));
  EXPECT_EQ(ReadWholeFile(folder / "cut.mp3"), std::string("abcdabcd") + std::string(4, '\0'));
  EXPECT_EQ(reads, 3);
}

TEST_F(DownloadSongTest, RunningOutOfMemoryGivesUpTheCopyNotThePlayer) {
  WinHttp().WinHttpReadData = [](HttpHandle, LPVOID, DWORD, LPDWORD) -> BOOL {
    throw std::bad_alloc();  // as the chunk's allocation would
  };
  fake.body = Song(100);
  DownloadSong(Job("memory.mp3", 100));
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_EQ(fake.closed, 1);
  EXPECT_EQ(Player().downloadState, DownloadState::Finished);
}

TEST_F(DownloadSongTest, AFileThatCannotBeWrittenLeavesNothingBehind) {
  // A folder already holds the name: the copy cannot take its place.
  CreateDirectoryA((folder / "taken.mp3").c_str(), nullptr);
  fake.body = Song(100);
  DownloadSong(Job("taken.mp3", 100));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"taken.mp3"});
  EXPECT_FALSE(FileExists(folder / "taken.mp3"));
  EXPECT_EQ(Player().downloadState, DownloadState::Finished);
}

TEST_F(DownloadSongTest, AMissingSaveFolderMeansNoFileAndNoMessage) {
  fake.body = Song(100);
  CapturedOutput output;
  DownloadJob job = Job("song.mp3", 100);
  folder.Remove();
  DownloadSong(job);
  EXPECT_FALSE(FileExists(job.plan.filePath));
  EXPECT_EQ(output.Text(), "Downloading...");
  EXPECT_EQ(Player().downloadState, DownloadState::Finished);
}

}  // namespace
