#include "standins/bass/http_download_win.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <vector>

#include "platform/module_thread_win.h"
#include "platform/owners_win.h"
#include "platform/utf16_win.h"
#include "standins/bass/body_pace.h"
#include "standins/bass/http_session_win.h"

namespace {

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

// A request that fails so before any answer came went out on a connection the server had
// closed: a kept-alive one whose time ran out as the request crossed the server's close.
bool ConnectionLost(DWORD error) {
  return error == ERROR_WINHTTP_CONNECTION_ERROR || error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
}

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

// What one request shares with WinHTTP's callback. It lives until WinHTTP has reported
// the request closed, however long after the download that is.
struct HttpDownload::Exchange {
  explicit Exchange(HANDLE stopEvent) : stop(stopEvent) {}

  HANDLE stop;  // the download's
  UniqueHandle completion{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  UniqueHandle closed{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<DWORD> status{0};
  std::atomic<DWORD> bytes{0};
  std::atomic<DWORD> error{0};
  std::atomic<DWORD> closedOn{0};    // the thread that reported the close
  bool watched = false;              // the request carries our callback
  std::vector<std::uint8_t> buffer;  // where reads in flight write
  std::wstring range;                // the extra header of the request

  bool Usable() const { return completion && closed; }

  // Waits for the operation just started; false when stopped, failed or `timeoutMs`
  // passed (then *timedOut).
  bool Await(DWORD expected, DWORD* result, DWORD timeoutMs = INFINITE, bool* timedOut = nullptr) {
    HANDLE events[] = {stop, completion.get()};
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
    auto* exchange = reinterpret_cast<Exchange*>(context);
    if (exchange == nullptr) return;
    switch (status) {
      case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        exchange->closedOn = GetCurrentThreadId();
        SetEvent(exchange->closed.get());  // the last word: the exchange may go from here on
        return;
      case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR: {
        auto* result = static_cast<WINHTTP_ASYNC_RESULT*>(info);
        exchange->error = result != nullptr ? result->dwError : ERROR_WINHTTP_INTERNAL_ERROR;
        break;
      }
      case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
      case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        exchange->error = 0;
        break;
      case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        exchange->error = 0;
        exchange->bytes = *static_cast<DWORD*>(info);
        break;
      case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        exchange->error = 0;
        exchange->bytes = length;
        break;
      default:
        return;
    }
    exchange->status = status;
    SetEvent(exchange->completion.get());
  }
};

// What the download thread shares with the download: its events, and every exchange it
// made, each kept until WinHTTP has let go of it.
struct HttpDownload::Link {
  UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::vector<std::shared_ptr<Exchange>> exchanges;  // the thread's

  bool Usable() const { return stop && done; }

  // After the download: waits until WinHTTP has reported every request closed, then
  // for a callback that reported it on another thread to return. False when WinHTTP never
  // let go within `timeoutMs`: its callback may yet come.
  bool AwaitClosed(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool elsewhere = false;
    for (const auto& exchange : exchanges) {
      if (!exchange->watched) continue;
      const ULONGLONG now = GetTickCount64();
      const DWORD left = now < deadline ? DWORD(deadline - now) : 0;
      if (WaitForSingleObject(exchange->closed.get(), left) != WAIT_OBJECT_0) return false;
      elsewhere = elsewhere || exchange->closedOn != GetCurrentThreadId();
    }
    if (elsewhere) Sleep(kCallbackReturnMs);
    return true;
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
    if (!link->AwaitClosed(kLateCloseMs)) {
      // WinHTTP never let go: its callback may yet come, so neither the link nor the
      // library may go.
      new (std::nothrow) std::shared_ptr<Link>(link);
      return ModuleRelease::Keep;
    }
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

  // Declared in the order of opening, so they close in reverse: the request first. The
  // session is the library's: its kept-alive connections serve the next stream too.
  const std::shared_ptr<const InternetHandle> session = SharedHttpSession();
  if (!session) return false;
  InternetHandle connection(WinHttpConnect(session->get(), host, parts.nPort, 0));
  if (!connection) return false;
  const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  InternetHandle request;
  Exchange* exchange = nullptr;
  bool sent = false;
  for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
    // A connection the server closed under a request costs one more try, on a fresh one.
    if (attempt > 0 && (!ConnectionLost(exchange->error) ||
                        WaitForSingleObject(link.stop.get(), 0) == WAIT_OBJECT_0)) {
      break;
    }
    link.exchanges.push_back(std::make_shared<Exchange>(link.stop.get()));
    exchange = link.exchanges.back().get();
    if (!exchange->Usable()) return false;
    request = Ask(*exchange, connection.get(), object, secure, offset, &sent);
    if (!request) return false;
  }
  DWORD statusCode = 0;
  DWORD size = sizeof(statusCode);
  if (sent) {
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &statusCode, &size, WINHTTP_NO_HEADER_INDEX);
  }
  // A server that ignores the range sends the whole file; the skipped part is dropped.
  if (statusCode != 200 && !(offset > 0 && statusCode == 206)) {
    *failure =
        sent || exchange->error != ERROR_WINHTTP_TIMEOUT ? BASS_ERROR_FILEOPEN : BASS_ERROR_TIMEOUT;
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
  return ReadBody(*exchange, request.get(), toSkip);
}

InternetHandle HttpDownload::Ask(Exchange& exchange, HINTERNET connection,
                                 const std::wstring& object, DWORD secure, DWORD offset,
                                 bool* sent) {
  *sent = false;
  // Closing the request cancels what is pending; WinHTTP may still write into the
  // exchange's buffer and call back until it reports the handle closed (under Wine: once
  // the pending read has ended), which the thread waits for after the download is done.
  InternetHandle request(WinHttpOpenRequest(connection, L"GET", object.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            secure));
  if (!request) return request;
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&exchange);
  WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
  // Only the request carries the callback: the session and connection close without a
  // word into our code.
  if (WinHttpSetStatusCallback(
          request.get(), &Exchange::OnStatus,
          WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
          0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    return InternetHandle();
  }
  exchange.watched = true;
  // The wait for the response head has a time-out of its own, apart from the reads'.
  DWORD responseMs = kHttpResponseMs;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs,
                   sizeof(responseMs));
  if (offset > 0) exchange.range = L"Range: bytes=" + std::to_wstring(offset) + L"-";
  const bool range = !exchange.range.empty();
  if (!WinHttpSendRequest(request.get(),
                          range ? exchange.range.c_str() : WINHTTP_NO_ADDITIONAL_HEADERS,
                          range ? DWORD(-1) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, context) ||
      !exchange.Await(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, nullptr) ||
      !WinHttpReceiveResponse(request.get(), nullptr) ||
      !exchange.Await(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, nullptr)) {
    if (exchange.error == 0) exchange.error = GetLastError();
    return request;
  }
  *sent = true;
  return request;
}

bool HttpDownload::ReadBody(Exchange& exchange, HINTERNET request, std::uint64_t toSkip) {
  DWORD stall = kReadStallMs;
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &stall, sizeof(stall));
  exchange.buffer.resize(kReadChunk);
  BodyPace pace(kPaceWindowMs, kPaceMinimumBytes);
  pace.Start(NowMs());
  for (;;) {
    // Asking what is there first keeps a read from waiting to fill a whole chunk from a
    // slow server, which would hold back the start of playback.
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, nullptr) ||
        !exchange.AwaitPaced(WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, &available, pace)) {
      return false;
    }
    if (available == 0) return true;
    DWORD got = 0;
    if (!WinHttpReadData(request, exchange.buffer.data(), std::min(available, kReadChunk),
                         nullptr) ||
        !exchange.AwaitPaced(WINHTTP_CALLBACK_STATUS_READ_COMPLETE, &got, pace)) {
      return false;
    }
    if (got == 0) return true;
    pace.Received(got);
    const std::uint8_t* data = exchange.buffer.data();
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
