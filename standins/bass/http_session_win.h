#pragma once
// The library's WinHTTP session, shared by the downloads of every stream: WinHTTP keeps the
// connections of a session alive and pools them per host, so the next stream from a host
// goes out on a connection (and a TLS session) that is already there, as a browser's would,
// rather than paying for a connect and a handshake each time. Each download holds the
// session while it runs; BASS_Free lets the library's own hold go, and the session closes
// once the last download that used it has ended.
#include <windows.h>
#include <winhttp.h>

#include <memory>

#include "platform/owners_win.h"

using InternetHandle = HttpOwner<&WinHttpCloseHandle>;

// How long a response head may take once its request is sent.
inline constexpr int kHttpResponseMs = 5000;

// The session, opened (asynchronous, with the library's time-outs) on first use after a
// BASS_Free or the load; null when none can be opened.
std::shared_ptr<const InternetHandle> SharedHttpSession();
// BASS_Free: the next stream opens a session afresh.
void ReleaseHttpSession();
