#include "tests/win/support/fake_winhttp.h"

#include <algorithm>
#include <cstring>

namespace {

FakeWinHttp* fake = nullptr;
HttpHandle const kSession = reinterpret_cast<HttpHandle>(0x1001);
HttpHandle const kConnection = reinterpret_cast<HttpHandle>(0x1002);
HttpHandle const kRequest = reinterpret_cast<HttpHandle>(0x1003);

std::wstring Text(LPCWSTR text, bool& wasNull) {
  wasNull = text == nullptr;
  return text == nullptr ? std::wstring() : std::wstring(text);
}

HttpHandle WINAPI Open(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
  bool ignored = false;
  fake->calls.push_back("Open");
  fake->agent = Text(agent, ignored);
  fake->proxy = Text(proxy, fake->proxyWasNull);
  Text(bypass, fake->bypassWasNull);
  fake->accessType = access;
  fake->flags = flags;
  return kSession;
}
BOOL WINAPI Close(HttpHandle handle) {
  fake->calls.push_back("Close");
  ++fake->closed;
  if (handle == kConnection) --fake->connections;
  return TRUE;
}
HttpHandle WINAPI Connect(HttpHandle, LPCWSTR server, WORD, DWORD) {
  bool ignored = false;
  fake->calls.push_back("Connect");
  fake->server = Text(server, ignored);
  ++fake->connections;
  return kConnection;
}
HttpHandle WINAPI OpenRequest(HttpHandle, LPCWSTR verb, LPCWSTR object, LPCWSTR version,
                              LPCWSTR referrer, LPCWSTR*, DWORD flags) {
  bool ignored = false;
  fake->calls.push_back("OpenRequest");
  fake->verb = Text(verb, ignored);
  fake->objectName = Text(object, fake->objectWasNull);
  fake->version = Text(version, ignored);
  fake->referrer = Text(referrer, fake->referrerWasNull);
  fake->flags = flags;
  return kRequest;
}
BOOL WINAPI Send(HttpHandle, LPCWSTR headers, DWORD length, LPVOID, DWORD, DWORD, DWORD_PTR) {
  fake->calls.push_back("Send");
  fake->headers = Text(headers, fake->headersWereNull);
  fake->headersLength = length;
  if (!fake->sendSucceeds) SetLastError(fake->sendError);
  return fake->sendSucceeds;
}
BOOL WINAPI Receive(HttpHandle, LPVOID) {
  fake->calls.push_back("Receive");
  if (!fake->receiveSucceeds) SetLastError(fake->receiveError);
  return fake->receiveSucceeds;
}
BOOL WINAPI Read(HttpHandle, LPVOID buffer, DWORD wanted, LPDWORD read) {
  fake->calls.push_back("Read");
  std::size_t size = wanted;
  if (!fake->readSizes.empty()) {
    size = std::min<std::size_t>(size, fake->readSizes[fake->readCount % fake->readSizes.size()]);
  }
  size = std::min(size, fake->body.size() - fake->bodyOffset);
  std::memcpy(buffer, fake->body.data() + fake->bodyOffset, size);
  fake->bodyOffset += size;
  ++fake->readCount;
  *read = static_cast<DWORD>(size);
  return TRUE;
}
BOOL WINAPI QueryAvailable(HttpHandle, LPDWORD available) {
  fake->calls.push_back("QueryDataAvailable");
  if (available != nullptr) *available = static_cast<DWORD>(fake->body.size() - fake->bodyOffset);
  return fake->queryAvailableSucceeds;
}
BOOL WINAPI SetTimeouts(HttpHandle, int, int, int, int) { return TRUE; }
BOOL WINAPI CheckPlatform() { return TRUE; }
HttpStatusCallback WINAPI SetCallback(HttpHandle, HttpStatusCallback handler, DWORD flags,
                                      DWORD_PTR) {
  fake->calls.push_back("SetStatusCallback");
  fake->installed = handler;
  fake->notificationFlags = flags;
  return nullptr;
}

BOOL WINAPI QueryHeaders(HttpHandle, DWORD level, LPCWSTR name, LPVOID buffer, LPDWORD length,
                         LPDWORD) {
  fake->calls.push_back("QueryHeaders");
  // Only the status code as a number is asked for.
  if (level != (19 | 0x20000000) || name != nullptr || *length < sizeof(DWORD)) return FALSE;
  *static_cast<DWORD*>(buffer) = fake->status;
  *length = sizeof(DWORD);
  return TRUE;
}

}  // namespace

FakeWinHttp::FakeWinHttp() {
  fake = this;
  WinHttpBinding& b = WinHttp();
  b.library = reinterpret_cast<HMODULE>(0x7000);
  b.WinHttpOpen = Open;
  b.WinHttpCloseHandle = Close;
  b.WinHttpConnect = Connect;
  b.WinHttpOpenRequest = OpenRequest;
  b.WinHttpSendRequest = Send;
  b.WinHttpReceiveResponse = Receive;
  b.WinHttpReadData = Read;
  b.WinHttpQueryDataAvailable = QueryAvailable;
  b.WinHttpSetTimeouts = SetTimeouts;
  b.WinHttpCheckPlatform = CheckPlatform;
  b.WinHttpSetStatusCallback = SetCallback;
  b.WinHttpQueryHeaders = QueryHeaders;
}

FakeWinHttp::~FakeWinHttp() {
  WinHttp() = WinHttpBinding{};
  fake = nullptr;
}
