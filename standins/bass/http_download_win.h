#pragma once
// Fetches one address into a DownloadedFile on a thread of its own, with WinHTTP in
// asynchronous mode so that a stream being freed can cancel a transfer at once, whatever
// the server is doing. The session is the download's own.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "audio/bass_api.h"
#include "standins/bass/downloaded_file.h"

class HttpDownload {
 public:
  HttpDownload(DownloadedFile& file, DOWNLOADPROC* proc, void* user)
      : file_(file), proc_(proc), user_(user) {}
  HttpDownload(const HttpDownload&) = delete;
  HttpDownload& operator=(const HttpDownload&) = delete;
  ~HttpDownload() { Stop(); }

  // Starts the transfer and waits until the response head is in (true) or the request
  // failed or `waitMs` passed (false, with a BASS error code in *error).
  bool Begin(const std::string& url, DWORD offset, DWORD waitMs, int* error);
  // Cancels the transfer if it still runs and waits for the thread to end.
  void Stop();

  // The response head as "Name: value" lines, each ended by a NUL, then one more NUL.
  std::string Headers() const;

 private:
  enum class Head { Pending, Ready, Failed };
  struct Completion;

  void Run(std::wstring url, DWORD offset);
  bool Transfer(const std::wstring& url, DWORD offset);
  void SetHead(Head state, int error);
  // Waits for the operation just started; false when stopped, failed or timed out.
  bool AwaitCompletion(DWORD expected, DWORD* bytes);
  static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info,
                                DWORD length);

  DownloadedFile& file_;
  DOWNLOADPROC* proc_;
  void* user_;

  std::thread thread_;
  HANDLE stopEvent_ = nullptr;
  HANDLE completionEvent_ = nullptr;
  HANDLE closedEvent_ = nullptr;

  // Written by WinHTTP's callback thread, read by the download thread after the event.
  std::atomic<DWORD> completedStatus_{0};
  std::atomic<DWORD> completedBytes_{0};
  std::atomic<DWORD> completedError_{0};

  mutable std::mutex mutex_;
  std::condition_variable headChanged_;
  Head head_ = Head::Pending;
  int error_ = BASS_OK;
  std::string headers_;
};
