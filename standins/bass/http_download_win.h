#pragma once
// Fetches one address into a DownloadedFile on a thread of its own, with WinHTTP in
// asynchronous mode so that a stream being freed can cancel a transfer at once, whatever
// the server is doing. The session is the library's (http_session_win.h), so a download
// goes out on a connection an earlier one left alive where there is one; a request that
// such a connection fails before any answer (the server had closed it) goes once more.
//
// WinHTTP may call back until it has reported the request handle closed, and on Windows
// that can come long after the handle was closed. So what its callback touches (events,
// the read buffer: one exchange per request) lives apart from the download, and the thread, which keeps this
// library loaded while it runs (module_thread_win.h), outlives the download until that
// last word has come.
#include <windows.h>
#include <winhttp.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "audio/bass_api.h"
#include "standins/bass/downloaded_file.h"
#include "standins/bass/http_session_win.h"

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
  // Cancels the transfer if it still runs; returns once the thread no longer touches the
  // download or its file.
  void Stop();

  // The response head as "Name: value" lines, each ended by a NUL, then one more NUL.
  std::string Headers() const;

 private:
  enum class Head { Pending, Ready, Failed };
  struct Exchange;
  struct Link;

  // The thread's body; touches the download only until it signals that it is done.
  bool Run(Link& link, const std::wstring& url, DWORD offset);
  bool Transfer(Link& link, const std::wstring& url, DWORD offset, int* failure);
  // Opens, sends and receives one request; *sent when its response head is in.
  InternetHandle Ask(Exchange& exchange, HINTERNET connection, const std::wstring& object,
                     DWORD secure, DWORD offset, bool* sent);
  bool ReadBody(Exchange& exchange, HINTERNET request, std::uint64_t toSkip);
  void SetHead(Head state, int error);

  DownloadedFile& file_;
  DOWNLOADPROC* proc_;
  void* user_;

  std::shared_ptr<Link> link_;
  bool started_ = false;

  mutable std::mutex mutex_;
  std::condition_variable headChanged_;
  Head head_ = Head::Pending;
  int error_ = BASS_OK;
  std::string headers_;
};
