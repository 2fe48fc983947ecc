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
inline constexpr DWORD kQueryStatusCode = 19;               // WINHTTP_QUERY_STATUS_CODE
inline constexpr DWORD kQueryFlagNumber = 0x20000000;       // WINHTTP_QUERY_FLAG_NUMBER

// The body of a received response, read up to `limit` bytes: whatever comes after is left
// unread (the caller closes the request, which ends it). The request stays open.
std::string ReadResponseBody(HttpHandle request, std::size_t limit);

// The status code of a received response (200, 404, ...), 0 when it cannot be read.
DWORD ResponseStatus(HttpHandle request);

// A request on `connection` whose response head has been received, or null. A request
// that fails to send or receive is closed here, since the caller never sees its handle.
HttpHandle HttpRequest(HttpHandle connection, const std::string& objectName,
                       const std::string& verb, const std::string& referrer,
                       const std::string& headers);

// The session the whole run shares. Each exchange connects on it for itself (see
// ConnectToSite): a connection handle opens no socket of its own (the session keeps the
// sockets), and one exchange's redirect cannot change where the next one goes.
void OpenSharedSession();
void CloseSharedSession();

// A connection handle to the catalogue host on the shared session, for one exchange.
HttpHandle ConnectToSite();
