// The copy thread's work against a fake WinHTTP, run on the test's thread: what it asks
// for, what it shows, and the file it leaves in a folder of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "app/player_state.h"
#include "tests/win/support/captured_output.h"
#include "tests/win/support/fake_winhttp.h"
#include "tests/win/support/scratch_folder.h"
#include "web/save_copy_job_win.h"

namespace {

HttpHandle const kSession = reinterpret_cast<HttpHandle>(0x1001);

std::string Song(std::size_t size) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>((i * 31 + 7) % 251);
  return bytes;
}

class DownloadSongTest : public ::testing::Test {
 protected:
  DownloadJob Job(const std::string& title, std::int64_t fileSize) {
    return JobIn(folder.path(), title, fileSize);
  }
  DownloadJob JobIn(const std::string& saveFolder, const std::string& title,
                    std::int64_t fileSize) {
    std::optional<SaveCopyPlan> plan = PlanSaveCopy("https://listen.tuner.test/listen/42", title,
                                                    fileSize, "listen.tuner.test", saveFolder);
    EXPECT_TRUE(plan);
    return DownloadJob{*plan, saveFolder, kSession, "listen.tuner.test"};
  }

  void TearDown() override { Player().downloadState = DownloadState::Idle; }

  CapturedOutput quiet;  // keeps the messages out of the test report
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
  // On a connection of its own to the host, without a redirect handler, closed after the
  // request.
  EXPECT_EQ(fake.server, L"listen.tuner.test");
  EXPECT_EQ(fake.calls.front(), "Connect");
  EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "SetStatusCallback"), 0);
  EXPECT_EQ(fake.closed, 2);
  EXPECT_EQ(fake.connections, 0);
  EXPECT_EQ(output.Text(), "") << "the copy writes nothing itself: the screen shows its row";
  EXPECT_EQ(Player().downloadState, DownloadState::Finished);
}

TEST_F(DownloadSongTest, ALongerBodyIsCutAndReadNoFurtherAShorterOneWritesNothing) {
  const std::string song = Song(5000);
  fake.body = song;
  fake.readSizes = {700};
  DownloadSong(Job("long.mp3", 3000));
  EXPECT_EQ(ReadWholeFile(folder / "long.mp3"), song.substr(0, 3000));
  EXPECT_EQ(fake.bodyOffset, 3000u);  // a body without end would end here too

  WriteWholeFile(folder / "short.mp3", "an earlier copy");
  for (const std::string& body : {song, std::string()}) {
    FakeWinHttp shorter;
    shorter.body = body;
    DownloadSong(Job("short.mp3", 6500));
    EXPECT_EQ(ReadWholeFile(folder / "short.mp3"), "an earlier copy");
  }
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"long.mp3", "short.mp3"}));
}

TEST_F(DownloadSongTest, AnAnswerOtherThan200WritesNothingAndKeepsAnEarlierCopy) {
  WriteWholeFile(folder / "kept.mp3", "the good copy");
  for (DWORD status : {503u, 404u, 500u, 206u, 0u}) {
    FakeWinHttp answer;
    answer.status = status;
    answer.body = "<html>Service Unavailable</html>";
    CapturedOutput output;
    DownloadSong(Job("kept.mp3", 10));
    EXPECT_EQ(ReadWholeFile(folder / "kept.mp3"), "the good copy") << status;
    EXPECT_EQ(answer.bodyOffset, 0u) << "the error page was read";
    EXPECT_EQ(output.Text(), "") << status;
    EXPECT_EQ(answer.closed, 2);
  }
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"kept.mp3"});
}

TEST_F(DownloadSongTest, ASaveFolderAsLongAsTheNameRuleAcceptsTakesTheCopy) {
  // 257 characters: one is left for the name, none for a temporary name beside it in a
  // plain path.
  const std::string longFolder =
      folder.path() + "\\" + std::string(kLongestPath - 2 - folder.path().size() - 1, 'f');
  ASSERT_EQ(longFolder.size(), 257u);
  const std::wstring wide = L"\\\\?\\" + std::wstring(longFolder.begin(), longFolder.end());
  ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr));
  ScratchFolder inside(longFolder);
  fake.body = Song(3000);
  DownloadSong(JobIn(longFolder, "Morning Scale.mp3", 3000));
  EXPECT_EQ(inside.Names(), std::vector<std::string>{"M"});
  EXPECT_TRUE(ReadWholeFile(inside / "M") == fake.body);
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
                                    DWORD) WINAPI -> HttpHandle { return nullptr; };
  CapturedOutput output;
  Player().downloadState = DownloadState::Running;
  DownloadSong(Job("nothing.mp3", 100));
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_EQ(output.Text(), "");
  EXPECT_EQ(fake.closed, 1);  // its connection
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
  EXPECT_EQ(fake.closed, 2);
  EXPECT_EQ(Player().downloadState, DownloadState::Finished);
}

TEST_F(DownloadSongTest, ABodyCutShortByAFailingReadIsNeitherSavedNorRetriedForEver) {
  static int reads = 0;
  reads = 0;
  WinHttp().WinHttpQueryDataAvailable = [](HttpHandle, LPDWORD available) WINAPI -> BOOL {
    *available = 4;  // claims more every time
    return TRUE;
  };
  WinHttp().WinHttpReadData = [](HttpHandle, LPVOID buffer, DWORD, LPDWORD read) WINAPI -> BOOL {
    if (++reads > 2) {
      *read = 0;
      return FALSE;
    }
    std::memcpy(buffer, "abcd", 4);
    *read = 4;
    return TRUE;
  };
  DownloadSong(Job("cut.mp3", 12));
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_EQ(reads, 3);
}

TEST_F(DownloadSongTest, RunningOutOfMemoryGivesUpTheCopyNotThePlayer) {
  WinHttp().WinHttpReadData = [](HttpHandle, LPVOID, DWORD, LPDWORD) WINAPI -> BOOL {
    throw std::bad_alloc();  // as the chunk's allocation would
  };
  fake.body = Song(100);
  DownloadSong(Job("memory.mp3", 100));
  EXPECT_TRUE(folder.Names().empty());
  EXPECT_EQ(fake.closed, 2);
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
  EXPECT_EQ(output.Text(), "");
  EXPECT_EQ(Player().downloadState, DownloadState::Finished);
}

}  // namespace
