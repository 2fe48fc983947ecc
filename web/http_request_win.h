#pragma once
// The request layer: one call that opens, sends and receives a request, and the body reader.
#include <string>

#include "web/winhttp_binding_win.h"

inline constexpr const char* kUserAgent = "RQ_WinHTTP/1.0";
inline constexpr DWORD kAccessTypeDefaultProxy = 0;
inline constexpr DWORD kAccessTypeNoProxy = 1;
inline constexpr DWORD kFlagEscapeDisable = 0x40;
inline constexpr DWORD kFlagSecure = 0x00800000;
inline constexpr DWORD kCallbackFlagRedirect = 0x4000;
inline constexpr std::size_t kBodyChunkSize = 8192;

// The whole body of a received response; the request stays open for the caller.
std::string ReadResponseBody(HttpHandle request);

// A request on `connection` whose response head has been received, or null. A request
// that fails to send or receive is closed here, since the caller never sees its handle.
HttpHandle HttpRequest(HttpHandle connection, const std::string& objectName,
                       const std::string& verb, const std::string& referrer,
                       const std::string& headers);

// The shared session and connection of the whole run.
void OpenSharedConnection(const std::string& host);
void CloseSharedConnection();
