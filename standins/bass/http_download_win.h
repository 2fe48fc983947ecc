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
  // What WinHTTP's callback touches. WinHTTP may call back until it reports the request
  // handle closed, which under a server that has gone quiet can be long after the
  // download was stopped; so the callback shares this with the download and frees it on
  // the last word.
  struct CallbackLink {
    std::atomic<int> owners{2};
    HANDLE completion = nullptr;
    std::atomic<DWORD> status{0};
    std::atomic<DWORD> bytes{0};
    std::atomic<DWORD> error{0};
    void Release();
  };

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
  CallbackLink* link_ = nullptr;  // released by the download thread and by WinHTTP

  mutable std::mutex mutex_;
  std::condition_variable headChanged_;
  Head head_ = Head::Pending;
  int error_ = BASS_OK;
  std::string headers_;
};
