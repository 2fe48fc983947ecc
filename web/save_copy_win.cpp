#include "web/save_copy_win.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "app/console_output_win.h"
#include "app/player_state.h"
#include "audio/audio_library_win.h"
#include "web/http_request_win.h"

namespace {

// ---- shared between the main thread and a copy thread -------------------------------

// Set at quit; a copy that has not written its file by then writes none.
std::atomic<bool> abandoned{false};

// A file write and the abandonment at quit exclude each other, so quitting never leaves a
// half-written temporary file behind (it waits at most for one local write).
std::mutex& FileWriteMutex() {
  static std::mutex mutex;
  return mutex;
}

// ---- main thread only ---------------------------------------------------------------

// The running copy's thread, kept until it has finished; released without waiting.
HANDLE copyThread = nullptr;

struct ThreadStart {
  DownloadJob job;
  // A reference of the copy's own on the module that holds the bound WinHTTP entries, so
  // unloading WinHTTP at quit cannot pull the code out from under a running copy.
  HMODULE heldWinHttp = nullptr;
};

HMODULE HoldWinHttp() {
  HMODULE module = nullptr;
  const auto entry = reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(WinHttp().WinHttpReadData));
  if (entry == nullptr ||
      !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, entry, &module))
    return nullptr;
  return module;
}

// ---- the copy thread ----------------------------------------------------------------

class RequestHandle {
 public:
  explicit RequestHandle(HttpHandle handle) : handle_(handle) {}
  ~RequestHandle() { _WinHttpCloseHandle(handle_); }
  RequestHandle(const RequestHandle&) = delete;
  RequestHandle& operator=(const RequestHandle&) = delete;
  HttpHandle get() const { return handle_; }

 private:
  HttpHandle handle_;
};

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    if (!valid()) return false;
    const bool closed = CloseHandle(handle_) != FALSE;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

void ShowDownloading(const DownloadJob& job) {
  auto lock = console::Lock();
  console::MoveTo(job.row + 3u, 1);
  console::SetColours(job.textColour, job.backColour);
  console::Write(kDownloadingText);
}

void ReadBody(HttpHandle request, CopyBuffer& buffer) {
  for (;;) {
    DWORD available = 0;
    if (!_WinHttpQueryDataAvailable(request, &available) || available == 0) return;
    const std::string chunk = _WinHttpReadData(request, available);
    // A read that fails brings nothing; asking again would go round for ever.
    if (chunk.empty()) return;
    buffer.Append(chunk.data(), chunk.size());
  }
}

bool WriteAll(HANDLE file, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 24));
    if (!WriteFile(file, bytes.data() + done, piece, &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

// The file appears whole or not at all: written under a temporary name in the save folder,
// then renamed over the target, so a failed write never leaves a cut copy (or destroys an
// earlier good one).
void SaveWhole(const DownloadJob& job, const std::vector<std::uint8_t>& bytes) {
  std::lock_guard lock(FileWriteMutex());
  if (abandoned) return;
  char temporary[MAX_PATH] = {};
  if (GetTempFileNameA(job.saveFolder.c_str(), "cpy", 0, temporary) == 0) return;
  FileHandle file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  const bool written = file.valid() && WriteAll(file.get(), bytes) && file.Close();
  if (!written || !MoveFileExA(temporary, job.plan.filePath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    file.Close();
    DeleteFileA(temporary);
  }
}

void FetchAndSave(const DownloadJob& job) {
  RequestHandle request(_WinHttpOpenRequest(job.connection, "GET", job.plan.requestPath, "HTTP/1.1",
                                            "", nullptr, kFlagSecure | kFlagEscapeDisable));
  if (request.get() == nullptr) return;
  // The request would inherit the connection's redirect handler, and a redirect arriving
  // after the user skipped on would give the newer song this song's name.
  _WinHttpSetStatusCallback(request.get(), nullptr, 0);
  _WinHttpSendRequest(request.get(), "", nullptr, 0, 0, 0);
  if (!_WinHttpReceiveResponse(request.get())) return;
  ShowDownloading(job);
  CopyBuffer buffer(job.plan.size);
  ReadBody(request.get(), buffer);
  SaveWhole(job, buffer.Bytes());
}

DWORD WINAPI CopyThread(LPVOID parameter) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
  DownloadSong(start->job);
  if (start->heldWinHttp != nullptr) FreeLibrary(start->heldWinHttp);
  return 0;
}

}  // namespace

void DownloadSong(const DownloadJob& job) {
  try {
    FetchAndSave(job);
  } catch (const std::exception&) {
    // Memory for the song or a chunk of it ran out: the copy is given up, not the player.
  }
  Player().downloadState = DownloadState::Finished;
}

void StartDownload() {
  PlayerState& player = Player();
  const std::string folder = SaveFolderPath(ProgramDirectory(), player.host);
  if (SaveFolderMustBeCreated(GetFileAttributesA(folder.c_str()))) {
    CreateDirectoryA(folder.c_str(), nullptr);
  }
  if (player.downloadState != DownloadState::Idle) return;
  std::optional<SaveCopyPlan> plan =
      PlanSaveCopy(player.pageUrl, player.title, player.fileSize, player.host, folder);
  if (!plan) return;

  auto start = std::make_unique<ThreadStart>();
  start->job =
      DownloadJob{std::move(*plan),  folder,           player.httpConnection, player.statusRow,
                  player.textColour, player.backColour};
  start->heldWinHttp = HoldWinHttp();
  player.downloadState = DownloadState::Running;
  HANDLE thread = CreateThread(nullptr, 0, CopyThread, start.get(), 0, nullptr);
  if (thread == nullptr) {
    // No thread will ever report Finished; staying Running would refuse every later "d".
    if (start->heldWinHttp != nullptr) FreeLibrary(start->heldWinHttp);
    player.downloadState = DownloadState::Idle;
    return;
  }
  start.release();  // the thread owns it now
  copyThread = thread;
}

void PollDownload() {
  PlayerState& player = Player();
  if (player.downloadState != DownloadState::Finished) return;
  if (copyThread != nullptr) CloseHandle(copyThread);
  copyThread = nullptr;
  player.downloadState = DownloadState::Idle;
  auto lock = console::Lock();
  console::MoveTo(player.statusRow + 3u, 1);
  console::SetColours(player.textColour, player.backColour);
  console::Write(std::string(kDownloadingBlankWidth, ' '));
}

void AbandonDownload() {
  // Taken for good: a copy thread that would still write (its row, or a failed receive's
  // message) waits until the process ends instead of writing after "Bye....".
  console::Lock().release();
  std::lock_guard lock(FileWriteMutex());
  abandoned = true;
}
