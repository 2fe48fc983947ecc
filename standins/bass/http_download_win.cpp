#include "standins/bass/http_download_win.h"

#include <algorithm>
#include <vector>

namespace {

// Time-outs of our own, so a dead server fails a stream instead of hanging the caller.
constexpr int kResolveMs = 5000;
constexpr int kConnectMs = 5000;
constexpr int kSendMs = 5000;
constexpr int kResponseMs = 5000;
// Once playing, a server may pause this long between two pieces of the body.
constexpr DWORD kReadStallMs = 15000;
constexpr DWORD kReadChunk = 64 * 1024;

class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() { Close(); }
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Close() {
    if (handle_ != nullptr) WinHttpCloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HINTERNET handle_ = nullptr;
};

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(std::size_t(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), length);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  int length = WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0,
                                   nullptr, nullptr);
  std::string narrow(std::size_t(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), int(text.size()), narrow.data(), length, nullptr,
                      nullptr);
  return narrow;
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

void HttpDownload::CallbackLink::Release() {
  if (--owners == 0) {
    CloseHandle(completion);
    delete this;
  }
}

bool HttpDownload::Begin(const std::string& url, DWORD offset, DWORD waitMs, int* error) {
  stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE completion = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!stopEvent_ || !completion) {
    if (completion) CloseHandle(completion);
    *error = BASS_ERROR_MEM;
    return false;
  }
  link_ = new CallbackLink;
  link_->completion = completion;
  thread_ = std::thread(&HttpDownload::Run, this, Widen(url), offset);
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
  if (stopEvent_ != nullptr) SetEvent(stopEvent_);
  if (thread_.joinable()) thread_.join();
  if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
  stopEvent_ = nullptr;
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

void CALLBACK HttpDownload::OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                     DWORD length) {
  auto* link = reinterpret_cast<CallbackLink*>(context);
  if (link == nullptr) return;  // the session and connection carry no context
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      link->Release();
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
  SetEvent(link->completion);
}

bool HttpDownload::AwaitCompletion(DWORD expected, DWORD* bytes) {
  HANDLE events[] = {stopEvent_, link_->completion};
  DWORD woke = WaitForMultipleObjects(2, events, FALSE, INFINITE);
  if (woke != WAIT_OBJECT_0 + 1) return false;
  if (link_->status != expected || link_->error != 0) return false;
  if (bytes != nullptr) *bytes = link_->bytes;
  return true;
}

void HttpDownload::Run(std::wstring url, DWORD offset) {
  bool complete = Transfer(url, offset);
  SetHead(Head::Failed, BASS_ERROR_FILEOPEN);
  file_.Finish(complete);
  if (proc_ != nullptr) proc_(nullptr, 0, user_);
}

bool HttpDownload::Transfer(const std::wstring& url, DWORD offset) {
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

  InternetHandle session(WinHttpOpen(L"TunerBass/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                     WINHTTP_FLAG_ASYNC));
  if (!session) return false;
  WinHttpSetStatusCallback(session.get(), &HttpDownload::OnStatus,
                           WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES,
                           0);
  WinHttpSetTimeouts(session.get(), kResolveMs, kConnectMs, kSendMs, kResponseMs);
  InternetHandle connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
  if (!connection) return false;
  const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  HINTERNET request = WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure);
  if (request == nullptr) {
    link_->Release();  // WinHTTP never held it
    link_->Release();
    link_ = nullptr;
    return false;
  }
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(link_);
  WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
  // The wait for the response head has a time-out of its own, apart from the reads'.
  DWORD responseMs = kResponseMs;
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof(responseMs));

  bool complete = false;
  std::wstring range;
  if (offset > 0) range = L"Range: bytes=" + std::to_wstring(offset) + L"-";
  bool sent = WinHttpSendRequest(request, range.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : range.c_str(),
                                 range.empty() ? 0 : DWORD(-1), WINHTTP_NO_REQUEST_DATA, 0, 0,
                                 context) &&
              AwaitCompletion(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, nullptr) &&
              WinHttpReceiveResponse(request, nullptr) &&
              AwaitCompletion(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, nullptr);
  DWORD statusCode = 0;
  DWORD size = sizeof(statusCode);
  if (sent) {
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &statusCode, &size, WINHTTP_NO_HEADER_INDEX);
  }
  // A server that ignores the range sends the whole file; the skipped part is dropped below.
  const bool acceptable = statusCode == 200 || (offset > 0 && statusCode == 206);
  if (acceptable) {
    DWORD rawSize = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &rawSize, WINHTTP_NO_HEADER_INDEX);
    std::wstring raw(rawSize / sizeof(wchar_t) + 1, L'\0');
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF,
                            WINHTTP_HEADER_NAME_BY_INDEX, raw.data(), &rawSize,
                            WINHTTP_NO_HEADER_INDEX)) {
      raw.resize(rawSize / sizeof(wchar_t));
    }
    wchar_t lengthText[32] = {};
    DWORD lengthSize = sizeof(lengthText);
    std::int64_t announced = -1;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                            lengthText, &lengthSize, WINHTTP_NO_HEADER_INDEX)) {
      announced = _wcstoi64(lengthText, nullptr, 10);
    }
    std::uint64_t toSkip = statusCode == 200 ? offset : 0;
    if (announced >= 0) announced = std::max<std::int64_t>(0, announced - std::int64_t(toSkip));
    file_.Announce(announced);
    {
      std::lock_guard lock(mutex_);
      headers_ = HeadLines(raw);
    }
    SetHead(Head::Ready, BASS_OK);

    DWORD stall = kReadStallMs;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &stall, sizeof(stall));
    std::vector<std::uint8_t> chunk(kReadChunk);
    for (;;) {
      // Asking what is there first keeps a read from waiting to fill a whole chunk from a
      // slow server, which would hold back the start of playback.
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request, nullptr) ||
          !AwaitCompletion(WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE, &available)) {
        break;
      }
      if (available == 0) {
        complete = true;
        break;
      }
      DWORD got = 0;
      if (!WinHttpReadData(request, chunk.data(), std::min(available, kReadChunk), nullptr) ||
          !AwaitCompletion(WINHTTP_CALLBACK_STATUS_READ_COMPLETE, &got)) {
        break;
      }
      if (got == 0) {
        complete = true;
        break;
      }
      const std::uint8_t* data = chunk.data();
      if (toSkip > 0) {
        DWORD skip = DWORD(std::min<std::uint64_t>(toSkip, got));
        toSkip -= skip;
        data += skip;
        got -= skip;
      }
      if (got == 0) continue;
      file_.Append(data, got);
      if (proc_ != nullptr) proc_(data, got, user_);
    }
  } else {
    SetHead(Head::Failed, sent || link_->error != ERROR_WINHTTP_TIMEOUT ? BASS_ERROR_FILEOPEN
                                                                           : BASS_ERROR_TIMEOUT);
  }
  // Closing cancels whatever is still pending; WinHTTP lets go of the link when it reports
  // the handle closed, which may come later.
  WinHttpSetStatusCallback(session.get(), nullptr, 0, 0);
  WinHttpCloseHandle(request);
  link_->Release();
  link_ = nullptr;
  // A length the server announced but did not deliver makes the file incomplete.
  std::int64_t announced = file_.AnnouncedSize();
  if (complete && announced >= 0 && std::int64_t(file_.Received()) < announced) complete = false;
  return complete;
}
