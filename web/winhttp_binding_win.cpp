#include "web/winhttp_binding_win.h"

#include <memory>
#include <string>
#include <vector>

#include "app/console_output_win.h"
#include "web/text_case.h"

namespace {

// A UTF-16 copy of an 8-bit text that lives for one call; empty texts become null.
class WideArgument {
 public:
  explicit WideArgument(const std::string& text) {
    if (text.empty()) return;
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    wide_ = std::make_unique<wchar_t[]>(static_cast<std::size_t>(length) + 1);
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide_.get(),
                        length);
    wide_[static_cast<std::size_t>(length)] = L'\0';
  }
  const wchar_t* get() const { return wide_.get(); }

 private:
  std::unique_ptr<wchar_t[]> wide_;
};

template <typename Entry>
void Bind(HMODULE library, Entry& slot, const char* name) {
  slot = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

}  // namespace

WinHttpBinding& WinHttp() {
  static WinHttpBinding binding;
  return binding;
}

bool LoadWinHttp() {
  WinHttpBinding& b = WinHttp();
  b.library = LoadLibraryA("Winhttp.dll");
  if (b.library == nullptr) return false;
  Bind(b.library, b.WinHttpOpen, "WinHttpOpen");
  Bind(b.library, b.WinHttpCloseHandle, "WinHttpCloseHandle");
  Bind(b.library, b.WinHttpConnect, "WinHttpConnect");
  Bind(b.library, b.WinHttpOpenRequest, "WinHttpOpenRequest");
  Bind(b.library, b.WinHttpSendRequest, "WinHttpSendRequest");
  Bind(b.library, b.WinHttpReceiveResponse, "WinHttpReceiveResponse");
  Bind(b.library, b.WinHttpReadData, "WinHttpReadData");
  Bind(b.library, b.WinHttpQueryDataAvailable, "WinHttpQueryDataAvailable");
  Bind(b.library, b.WinHttpSetTimeouts, "WinHttpSetTimeouts");
  Bind(b.library, b.WinHttpCheckPlatform, "WinHttpCheckPlatform");
  Bind(b.library, b.WinHttpSetStatusCallback, "WinHttpSetStatusCallback");
  Bind(b.library, b.WinHttpQueryHeaders, "WinHttpQueryHeaders");
  // Every supported Windows exports all twelve; a library that lacks one would crash the
  // first call through its empty slot, so it counts as unusable.
  const void* entries[] = {
      reinterpret_cast<void*>(b.WinHttpOpen),        reinterpret_cast<void*>(b.WinHttpCloseHandle),
      reinterpret_cast<void*>(b.WinHttpConnect),     reinterpret_cast<void*>(b.WinHttpOpenRequest),
      reinterpret_cast<void*>(b.WinHttpSendRequest), reinterpret_cast<void*>(b.WinHttpReceiveResponse),
      reinterpret_cast<void*>(b.WinHttpReadData),    reinterpret_cast<void*>(b.WinHttpQueryDataAvailable),
      reinterpret_cast<void*>(b.WinHttpSetTimeouts), reinterpret_cast<void*>(b.WinHttpCheckPlatform),
      reinterpret_cast<void*>(b.WinHttpSetStatusCallback),
      reinterpret_cast<void*>(b.WinHttpQueryHeaders)};
  for (const void* entry : entries) {
    if (entry == nullptr) return false;
  }
  return b.WinHttpCheckPlatform() != FALSE;
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
  console::PrintMessage({"Error ", std::to_string(error), " in function _WinHttpSendRequest!"});
  return false;
}

bool _WinHttpReceiveResponse(HttpHandle request) {
  if (request == nullptr) return false;
  if (WinHttp().WinHttpReceiveResponse(request, nullptr)) return true;
  const DWORD error = GetLastError();
  console::PrintMessage({"Error ", std::to_string(error), " in function _WinHttpReceiveResponse!"});
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
