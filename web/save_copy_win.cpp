#include "web/save_copy_win.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <string_view>
#include <vector>

#include "app/player_state.h"
#include "app/screen_win.h"
#include "audio/audio_library_win.h"
#include "platform/module_thread_win.h"
#include "platform/owners_win.h"
#include "platform/utf16_win.h"
#include "web/http_request_win.h"
#include "web/save_copy_job_win.h"

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
ThreadHandle copyThread;

// ---- the copy thread ----------------------------------------------------------------

// Reads until the buffer is full, never past it: a body longer than the song (even one
// without end) stops being read there, and closing the request ends it.
void ReadBody(HttpHandle request, CopyBuffer& buffer) {
  while (!buffer.Full()) {
    DWORD available = 0;
    if (!_WinHttpQueryDataAvailable(request, &available) || available == 0) return;
    const std::string chunk =
        _WinHttpReadData(request, static_cast<DWORD>(std::min<std::size_t>(available, buffer.Room())));
    // A read that fails brings nothing; asking again would go round for ever.
    if (chunk.empty()) return;
    buffer.Append(chunk.data(), chunk.size());
  }
}

// The wide form of a path, usable at any length (see ExtendedLengthPath).
std::wstring WidePath(const std::string& path) { return Widen(ExtendedLengthPath(path)); }

// A new, empty file under a temporary name in the folder, and that name; an invalid
// handle when none could be made. Never an existing file: the name is created new.
FileHandle CreateTemporaryFile(const std::string& folder, std::wstring& path) {
  std::uint32_t number = GetTickCount() ^ (GetCurrentThreadId() << 16);
  for (int attempt = 0; attempt < 16; ++attempt, number = number * 2654435761u + 1) {
    path = WidePath(folder + "\\" + TemporaryCopyName(number));
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return FileHandle();
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
  std::wstring temporary;
  FileHandle file = CreateTemporaryFile(job.saveFolder, temporary);
  if (!file) return;
  // Closed before the rename, and its result counts: a write may fail only at the close.
  const bool written = WriteAll(file.get(), bytes) && CloseHandle(file.release());
  if (!written || !MoveFileExW(temporary.c_str(), WidePath(job.plan.filePath).c_str(),
                               MOVEFILE_REPLACE_EXISTING)) {
    file.reset();
    DeleteFileW(temporary.c_str());
  }
}

void FetchAndSave(const DownloadJob& job) {
  // A connection of the copy's own on the shared session, with no redirect handler: a
  // redirect arriving after the user skipped on cannot rename the newer song.
  UniqueHttpHandle connection(_WinHttpConnect(job.session, job.host, 0));
  UniqueHttpHandle request(_WinHttpOpenRequest(connection.get(), "GET", job.plan.requestPath,
                                               "HTTP/1.1", "", nullptr,
                                               kFlagSecure | kFlagEscapeDisable));
  if (request.get() == nullptr) return;
  _WinHttpSendRequest(request.get(), "", nullptr, 0, 0, 0);
  if (!_WinHttpReceiveResponse(request.get())) return;
  // An error page is not the song, and a copy of the song's name may already be there.
  if (!CopyAnswerAccepted(ResponseStatus(request.get()))) return;
  ReportCopyReading();  // "Downloading..."
  CopyBuffer buffer(job.plan.size);
  ReadBody(request.get(), buffer);
  if (buffer.Full()) SaveWhole(job, buffer.Bytes());
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
    // The wide form: the plain one refuses folders past 248 characters, which the name
    // rule still accepts.
    CreateDirectoryW(WidePath(folder).c_str(), nullptr);
  }
  if (player.downloadState != DownloadState::Idle) return;
  std::optional<SaveCopyPlan> plan =
      PlanSaveCopy(player.pageUrl, player.title, player.fileSize, player.host, folder);
  if (!plan) return;

  DownloadJob job{std::move(*plan), folder, player.httpSession, player.host};
  player.downloadState = DownloadState::Running;
  // The copy keeps the module of the bound WinHTTP entries loaded while it runs, so
  // unloading WinHTTP at quit cannot pull the code out from under it.
  copyThread = StartModuleThread(reinterpret_cast<const void*>(WinHttp().WinHttpReadData),
                                 [job = std::move(job)] {
                                   DownloadSong(job);
                                   return ModuleRelease::Release;
                                 });
  // Without a thread nothing would ever report Finished; staying Running would refuse
  // every later "d".
  if (!copyThread) player.downloadState = DownloadState::Idle;
}

void PollDownload() {
  PlayerState& player = Player();
  if (player.downloadState != DownloadState::Finished) return;
  copyThread.reset();  // the thread has ended or is ending: not waited for
  player.downloadState = DownloadState::Idle;
  ScreenCopyEnded();
}

void AbandonDownload() {
  std::lock_guard lock(FileWriteMutex());
  abandoned = true;
}
