#include "standins/bass/http_download_win.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <vector>

#include "standins/bass/body_pace.h"
#include "platform/module_thread_win.h"
#include "platform/owners_win.h"
#include "platform/utf16_win.h"

namespace {

// Time-outs of our own, so a dead server fails a stream instead of hanging the caller.
constexpr int kResolveMs = 5000;
constexpr int kConnectMs = 5000;
constexpr int kSendMs = 5000;
constexpr int kResponseMs = 5000;
// Once the head is in, one read may wait this long for the next piece...
constexpr DWORD kReadStallMs = 15000;
// ...and every stretch this long must bring at least this much (a second of a 128 kbps
// song), or the body is broken off: a trickle too slow to play never ends otherwise.
constexpr std::int64_t kPaceWindowMs = 10000;
constexpr std::size_t kPaceMinimumBytes = 16 * 1024;
constexpr DWORD kReadChunk = 64 * 1024;
// How long the thread waits, after the download is done, for WinHTTP to report the
// request closed: Wine does so once the read in flight ends, at the latest when the read
// time-out passes. Past it the library stays loaded for good.
constexpr DWORD kLateCloseMs = 60000;
// The callback that reported the close on another thread still has a few instructions of
// ours to run before it returns.
constexpr DWORD kCallbackReturnMs = 100;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

using InternetHandle = HttpOwner<&WinHttpCloseHandle>;

// The raw head comes as CRLF-separated lines; callers of the tag entry expect NUL-separated
// ones ending in an empty string.
std::string HeadLines(const std::wstring& raw) {
  std::string out;
  std::string all = Narrow(raw);
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find("\r\n", start);
    if (end == std::string::npos) end = all.size();
    if (end > start) {
      out.append(all, start, end - start);
      out.push_back('\0');
    }
    start = end + 2;
  }
  out.push_back('\0');
  return out;
}

}  // namespace

// What the download thread shares with WinHTTP's callback. It lives until WinHTTP has
// reported the request closed, however long after the download that is.
struct HttpDownload::Link {
  UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle completion{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueHandle closed{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<DWORD> status{0};
  std::atomic<DWORD> bytes{0};
  std::atomic<DWORD> error{0};
  std::atomic<DWORD> closedOn{0};  // the thread that reported the close
  bool watched = false;            // the request carries our callback
  std::vector<std::uint8_t> buffer;  // where reads in flight write
  std::wstring range;                // the extra header of the request

  bool Usable() const { return stop && done && completion && closed; }

  // Waits for the operation just started; false when stopped, failed or `timeoutMs`
  // passed (then *timedOut).
  bool Await(DWORD expected, DWORD* result, DWORD timeoutMs = INFINITE, bool* timedOut = nullptr) {
    HANDLE events[] = {stop.get(), completion.get()};
    DWORD woke = WaitForMultipleObjects(2, events, FALSE, timeoutMs);
    if (woke == WAIT_TIMEOUT && timedOut != nullptr) *timedOut = true;
    if (woke != WAIT_OBJECT_0 + 1) return false;
    if (status != expected || error != 0) return false;
    if (result != nullptr) *result = bytes;
    return true;
  }

  // The same, looking at the body's pace whenever a window closes.
  bool AwaitPaced(DWORD expected, DWORD* result, BodyPace& pace) {
    for (;;) {
      bool timedOut = false;
      const auto wait = DWORD(std::max<std::int64_t>(1, pace.MillisToNextCheck(NowMs())));
      if (Await(expected, result, wait, &timedOut)) return true;
      if (!timedOut || pace.Broken(NowMs())) return false;
    }
  }

  static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                DWORD length) {
    auto* link = reinterpret_cast<Link*>(context);
    if (link == nullptr) return;
    switch (status) {
      case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        link->closedOn = GetCurrentThreadId();
        SetEvent(link->closed.get());  // the last word: the link may go from here on
        return;
      case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        auto* result = static_cast<WINHTTP_ASYNC_RESULT*>(info);
        link->error = result != nullptr ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
        break;
      }
      case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        link->error = 0;
        break;
      case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        link->error = 0;
        link->bytes = *static_cast<DWORD*>(info);
        break;
      case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        link->error = 0;
        link->bytes = length;
        break;
      default:
        return;
    }
    link->status = status;
    SetEvent(link->completion.get());
  }
};

bool HttpDownload::Begin(const std::string& url, DWORD offset, DWORD waitMs, int* error) {
  link_ = std::make_shared<Link>();
  if (!link_->Usable()) {
    *error = BASS_ERROR_MEM;
    return false;
  }
  std::shared_ptr<Link> link = link_;
  started_ = bool(StartModuleThread(ThisModule(), [this, link, wide = Widen(url), offset] {
    try {
      Run(*link, wide, offset);
    } catch (...) {
    }
    SetEvent(link->done.get());
    // From here on the download may be gone; only the link is ours.
    if (!link->watched) return ModuleRelease::Release;
    if (WaitForSingleObject(link->closed.get(), kLateCloseMs) != WAIT_OBJECT_0) {
      // WinHTTP never let go: its callback may yet come, so neither the link nor the
      // library may go.
      new (std::nothrow) std::shared_ptr<Link>(link);
      return ModuleRelease::Keep;
    }
    if (link->closedOn != GetCurrentThreadId()) Sleep(kCallbackReturnMs);
    return ModuleRelease::Release;
  }));
  if (!started_) {
    *error = BASS_ERROR_MEM;
    return false;
  }
  std::unique_lock lock(mutex_);
  bool decided = headChanged_.wait_for(lock, std::chrono::milliseconds(waitMs),
                                       [&] { return head_ != Head::Pending; });
  if (!decided) {
    *error = BASS_ERROR_TIMEOUT;
    return false;
  }
  *error = error_;
  return head_ == Head::Ready;
}

void HttpDownload::Stop() {
  if (!link_) return;
  SetEvent(link_->stop.get());
  if (started_) WaitForSingleObject(link_->done.get(), INFINITE);
  started_ = false;
  link_.reset();
}

std::string HttpDownload::Headers() const {
  std::lock_guard lock(mutex_);
  return headers_;
}

void HttpDownload::SetHead(Head state, int error) {
  {
    std::lock_guard lock(mutex_);
    if (head_ != Head::Pending) return;
    head_ = state;
    error_ = error;
  }
  headChanged_.notify_all();
}

bool HttpDownload::Run(Link& link, const std::wstring& url, DWORD offset) {
  bool complete = false;
  int failure = BASS_ERROR_FILEOPEN;
  try {
    complete = Transfer(link, url, offset, &failure);
  } catch (const std::bad_alloc&) {
    file_.MarkOutOfMemory();
    failure = BASS_ERROR_MEM;
  } catch (...) {
    failure = BASS_ERROR_UNKNOWN;
  }
  SetHead(Head::Failed, failure);
  // A length the server announced but did not deliver makes the file incomplete.
  const std::int64_t announced = file_.AnnouncedSize();
  if (complete && announced >= 0 && std::int64_t(file_.Received()) < announced) complete = false;
  file_.Finish(complete);
  if (proc_ != nullptr) proc_(nullptr, 0, user_);
  return complete;
}

bool HttpDownload::Transfer(Link& link, const std::wstring& url, DWORD offset, int* failure) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  wchar_t host[256] = {};
  std::vector<wchar_t> path(url.size() + 2);
  parts.lpszHostName = host;
  parts.dwHostNameLength = DWORD(std::size(host));
  parts.lpszUrlPath = path.data();
  parts.dwUrlPathLength = DWORD(path.size());
  std::vector<wchar_t> extra(url.size() + 2);
  parts.lpszExtraInfo = extra.data();
  parts.dwExtraInfoLength = DWORD(extra.size());
  if (!WinHttpCrackUrl(url.c_str(), DWORD(url.size()), 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
    return false;
  }
  std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                        std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = L"/";

  // Declared in the order of opening, so they close in reverse: the request first.
  InternetHandle session(WinHttpOpen(L"TunerBass/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                     WINHTTP_FLAG_ASYNC));
  if (!session) return false;
  WinHttpSetTimeouts(session.get(), kResolveMs, kConnectMs, kSendMs, kResponseMs);
  InternetHandle connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
  if (!connection) return false;
  const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  // Closing the request cancels what is pending; WinHTTP may still write into the link's
  // buffer and call back until it reports the handle closed (under Wine: once the pending
  // read has ended), which the thread waits for after the download is done.
  InternetHandle request(WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            secure));
  if (!request) return false;
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&link);
  WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
  // Only the request carries the callback: the session and connection close without a
  // word into our code.
  if (WinHttpSetStatusCallback(request.get(), &Link::OnStatus,
                               WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                               0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    return false;
  }
  link.watched = true;
  // The wait for the response head has a time-out of its own, apart from the reads'.
  DWORD responseMs = kResponseMs;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs,
                   sizeof(responseMs));

  if (offset > 0) link.range = L"Range: bytes=" + std::to_wstring(offset) + L"-";
  bool sent = WinHttpSendRequest(request.get(),
                                 link.range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : link.range.c_str(),
                                 link.range.empty() ? 0 : DWORD(-1), WINHTTP_NO_REQUEST_DATA, 0, 0,
                                 context) &&
              link.Await(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, nullptr) &&
              WinHttpReceiveResponse(request.get(), nullptr) &&
              link.Await(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, nullptr);
  DWORD statusCode = 0;
  DWORD size = sizeof(statusCode);
  if (sent) {
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &statusCode, &size, WINHTTP_NO_HEADER_INDEX);
  }
  // A server that ignores the range sends the whole file; the skipped part is dropped.
  if (statusCode != 200 && !(offset > 0 && statusCode == 206)) {
    *failure = sent || link.error != ERROR_WINHTTP_TIMEOUT ? BASS_ERROR_FILEOPEN : BASS_ERROR_TIMEOUT;
    return false;
  }
  DWORD rawSize = 0;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                      WINHTTP_NO_OUTPUT_BUFFER, &rawSize, WINHTTP_NO_HEADER_INDEX);
  std::wstring raw(rawSize / sizeof(wchar_t) + 1, L'\0');
  if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF,
                          WINHTTP_HEADER_NAME_BY_INDEX, raw.data(), &rawSize,
                          WINHTTP_NO_HEADER_INDEX)) {
    raw.resize(rawSize / sizeof(wchar_t));
  }
  wchar_t lengthText[32] = {};
  DWORD lengthSize = sizeof(lengthText);
  std::int64_t announced = -1;
  if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                          lengthText, &lengthSize, WINHTTP_NO_HEADER_INDEX)) {
    announced = _wcstoi64(lengthText, nullptr, 10);
  }
  const std::uint64_t toSkip = statusCode == 200 ? offset : 0;
  if (announced >= 0) announced = std::max<std::int64_t>(0, announced - std::int64_t(toSkip));
  if (!file_.Announce(announced)) {
    *failure = BASS_ERROR_MEM;  // more than a stream may hold
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    headers_ = HeadLines(raw);
  }
  SetHead(Head::Ready, BASS_OK);
  return ReadBody(link, request.get(), toSkip);
}

bool HttpDownload::ReadBody(Link& link, HINTERNET request, std::uint64_t toSkip) {
  DWORD stall = kReadStallMs;
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &stall, sizeof(stall));
  link.buffer.resize(kReadChunk);
  BodyPace pace(kPaceWindowMs, kPaceMinimumBytes);
  pace.Start(NowMs());
  for (;;) {
    // Asking what is there first keeps a read from waiting to fill a whole chunk from a
    // slow server, which would hold back the start of playback.
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, nullptr) ||
        !link.AwaitPaced(WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, &available, pace)) {
      return false;
    }
    if (available == 0) return true;
    DWORD got = 0;
    if (!WinHttpReadData(request, link.buffer.data(), std::min(available, kReadChunk), nullptr) ||
        !link.AwaitPaced(WINHTTP_CALLBACK_STATUS_READ_COMPLETE, &got, pace)) {
      return false;
    }
    if (got == 0) return true;
    pace.Received(got);
    const std::uint8_t* data = link.buffer.data();
    if (toSkip > 0) {
      const DWORD skip = DWORD(std::min<std::uint64_t>(toSkip, got));
      toSkip -= skip;
      data += skip;
      got -= skip;
    }
    if (got > 0) {
      // A full file (its cap, or the memory of all streams spent) ends the stream there.
      if (!file_.Append(data, got)) return false;
      if (proc_ != nullptr) proc_(data, got, user_);
    }
    if (pace.Broken(NowMs())) return false;
  }
}
