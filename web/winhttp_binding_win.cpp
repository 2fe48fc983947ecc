#include "web/winhttp_binding_win.h"

#include <string>
#include <vector>

#include "app/screen_win.h"
#include "platform/entry_binder_win.h"
#include "platform/utf16_win.h"
#include "web/text_case.h"

namespace {

// A UTF-16 copy of an 8-bit text that lives for one call; empty texts become null.
class WideArgument {
 public:
  explicit WideArgument(const std::string& text) : wide_(Widen(text)) {}
  const wchar_t* get() const { return wide_.empty() ? nullptr : wide_.c_str(); }

 private:
  std::wstring wide_;
};

}  // namespace

WinHttpBinding& WinHttp() {
  static WinHttpBinding binding;
  return binding;
}

bool LoadWinHttp() {
  WinHttpBinding& b = WinHttp();
  b.library = LoadLibraryA("Winhttp.dll");
  if (b.library == nullptr) return false;
  EntryBinder bind(b.library);
  bind(b.WinHttpOpen, "WinHttpOpen");
  bind(b.WinHttpCloseHandle, "WinHttpCloseHandle");
  bind(b.WinHttpConnect, "WinHttpConnect");
  bind(b.WinHttpOpenRequest, "WinHttpOpenRequest");
  bind(b.WinHttpSendRequest, "WinHttpSendRequest");
  bind(b.WinHttpReceiveResponse, "WinHttpReceiveResponse");
  bind(b.WinHttpReadData, "WinHttpReadData");
  bind(b.WinHttpQueryDataAvailable, "WinHttpQueryDataAvailable");
  bind(b.WinHttpSetTimeouts, "WinHttpSetTimeouts");
  bind(b.WinHttpCheckPlatform, "WinHttpCheckPlatform");
  bind(b.WinHttpSetStatusCallback, "WinHttpSetStatusCallback");
  bind(b.WinHttpQueryHeaders, "WinHttpQueryHeaders");
  // Every supported Windows exports all twelve; a library that lacks one would crash the
  // first call through its empty slot, so it counts as unusable.
  return bind.Complete() && b.WinHttpCheckPlatform() != FALSE;
}

bool UnloadWinHttp() {
  WinHttpBinding& b = WinHttp();
  if (b.library == nullptr) return false;
  FreeLibrary(b.library);
  return true;
}

HttpHandle _WinHttpOpen(DWORD accessType, const std::string& agent, const std::string& proxy,
                        const std::string& bypass, DWORD flags) {
  WinHttpBinding& b = WinHttp();
  if (b.library == nullptr || b.WinHttpOpen == nullptr) return nullptr;
  WideArgument wideAgent(agent), wideProxy(proxy), wideBypass(bypass);
  return b.WinHttpOpen(wideAgent.get(), accessType, wideProxy.get(), wideBypass.get(), flags);
}

bool _WinHttpCloseHandle(HttpHandle handle) {
  if (handle == nullptr) return false;
  return WinHttp().WinHttpCloseHandle(handle) != FALSE;
}

HttpHandle _WinHttpConnect(HttpHandle session, const std::string& server, WORD port) {
  if (session == nullptr) return nullptr;
  WideArgument wideServer(server);
  return WinHttp().WinHttpConnect(session, wideServer.get(), port, 0);
}

HttpHandle _WinHttpOpenRequest(HttpHandle connection, const std::string& verb,
                               const std::string& objectName, const std::string& version,
                               const std::string& referrer, LPCWSTR* acceptTypes, DWORD flags) {
  if (connection == nullptr) return nullptr;
  WideArgument wideVerb(ToUpperAscii(verb)), wideObject(objectName),
      wideVersion(ToUpperAscii(version)), wideReferrer(referrer);
  return WinHttp().WinHttpOpenRequest(connection, wideVerb.get(), wideObject.get(),
                                      wideVersion.get(), wideReferrer.get(), acceptTypes, flags);
}

bool _WinHttpSendRequest(HttpHandle request, const std::string& headers, LPVOID data,
                         DWORD dataLength, DWORD totalLength, DWORD_PTR context) {
  if (request == nullptr) return false;
  WideArgument wideHeaders(headers);
  if (WinHttp().WinHttpSendRequest(request, wideHeaders.get(), 0, data, dataLength, totalLength,
                                   context)) {
    return true;
  }
  const DWORD error = GetLastError();
  ReportMessage({"Error ", std::to_string(error), " in function _WinHttpSendRequest!"});
  return false;
}

bool _WinHttpReceiveResponse(HttpHandle request) {
  if (request == nullptr) return false;
  if (WinHttp().WinHttpReceiveResponse(request, nullptr)) return true;
  const DWORD error = GetLastError();
  ReportMessage({"Error ", std::to_string(error), " in function _WinHttpReceiveResponse!"});
  return false;
}

bool _WinHttpQueryDataAvailable(HttpHandle request, DWORD* available) {
  if (request == nullptr) return false;
  return WinHttp().WinHttpQueryDataAvailable(request, available) != FALSE;
}

std::string _WinHttpReadData(HttpHandle request, DWORD maximum) {
  if (request == nullptr) return {};
  std::vector<char> buffer(maximum, '\0');
  DWORD read = 0;
  WinHttp().WinHttpReadData(request, buffer.data(), maximum, &read);
  // Never trust a count beyond what was asked for.
  if (read > maximum) read = maximum;
  return std::string(buffer.data(), read);
}

HttpStatusCallback _WinHttpSetStatusCallback(HttpHandle handle, HttpStatusCallback handler,
                                             DWORD notificationFlags) {
  if (handle == nullptr) return nullptr;
  return WinHttp().WinHttpSetStatusCallback(handle, handler, notificationFlags, 0);
}

bool _WinHttpQueryHeaders(HttpHandle request, DWORD infoLevel, const std::string& name,
                          LPVOID buffer, DWORD* bufferLength, DWORD* index) {
  if (request == nullptr) return false;
  WideArgument wideName(name);
  return WinHttp().WinHttpQueryHeaders(request, infoLevel, wideName.get(), buffer, bufferLength,
                                       index) != FALSE;
}
