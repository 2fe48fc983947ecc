#pragma once
// Run-time binding of "Winhttp.dll" and the thin wrappers every HTTP call goes through.
// The wrappers take the program's 8-bit texts and hand WinHTTP fresh UTF-16 copies; an
// empty text reaches WinHTTP as a null pointer.
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/owners_win.h"

using HttpHandle = void*;
using HttpStatusCallback = void(CALLBACK*)(HttpHandle, DWORD_PTR, DWORD, LPVOID, DWORD);

struct WinHttpBinding {
  HMODULE library = nullptr;
  HttpHandle(WINAPI* WinHttpOpen)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD) = nullptr;
  BOOL(WINAPI* WinHttpCloseHandle)(HttpHandle) = nullptr;
  HttpHandle(WINAPI* WinHttpConnect)(HttpHandle, LPCWSTR, WORD, DWORD) = nullptr;
  HttpHandle(WINAPI* WinHttpOpenRequest)(HttpHandle, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
                                         LPCWSTR*, DWORD) = nullptr;
  BOOL(WINAPI* WinHttpSendRequest)(HttpHandle, LPCWSTR, DWORD, LPVOID, DWORD, DWORD,
                                   DWORD_PTR) = nullptr;
  BOOL(WINAPI* WinHttpReceiveResponse)(HttpHandle, LPVOID) = nullptr;
  BOOL(WINAPI* WinHttpReadData)(HttpHandle, LPVOID, DWORD, LPDWORD) = nullptr;
  BOOL(WINAPI* WinHttpQueryDataAvailable)(HttpHandle, LPDWORD) = nullptr;
  BOOL(WINAPI* WinHttpSetTimeouts)(HttpHandle, int, int, int, int) = nullptr;
  BOOL(WINAPI* WinHttpCheckPlatform)() = nullptr;
  HttpStatusCallback(WINAPI* WinHttpSetStatusCallback)(HttpHandle, HttpStatusCallback, DWORD,
                                                       DWORD_PTR) = nullptr;
  // Bound after the others: the copy reads its answer's status through it.
  BOOL(WINAPI* WinHttpQueryHeaders)(HttpHandle, DWORD, LPCWSTR, LPVOID, LPDWORD,
                                    LPDWORD) = nullptr;
};

// The process-wide table; written by LoadWinHttp on the main thread before any other
// thread exists (tests may fill it with fakes).
WinHttpBinding& WinHttp();

bool LoadWinHttp();
bool UnloadWinHttp();

HttpHandle _WinHttpOpen(DWORD accessType, const std::string& agent, const std::string& proxy,
                        const std::string& bypass, DWORD flags);
bool _WinHttpCloseHandle(HttpHandle handle);
HttpHandle _WinHttpConnect(HttpHandle session, const std::string& server, WORD port);
HttpHandle _WinHttpOpenRequest(HttpHandle connection, const std::string& verb,
                               const std::string& objectName, const std::string& version,
                               const std::string& referrer, LPCWSTR* acceptTypes, DWORD flags);
bool _WinHttpSendRequest(HttpHandle request, const std::string& headers, LPVOID data,
                         DWORD dataLength, DWORD totalLength, DWORD_PTR context);
bool _WinHttpReceiveResponse(HttpHandle request);
bool _WinHttpQueryDataAvailable(HttpHandle request, DWORD* available);
std::string _WinHttpReadData(HttpHandle request, DWORD maximum);
HttpStatusCallback _WinHttpSetStatusCallback(HttpHandle handle, HttpStatusCallback handler,
                                             DWORD notificationFlags);
// An empty header name reaches WinHTTP as null (the header is chosen by the info level).
bool _WinHttpQueryHeaders(HttpHandle request, DWORD infoLevel, const std::string& name,
                          LPVOID buffer, DWORD* bufferLength, DWORD* index);

// Owns one session, connection or request handle and closes it through the binding when it
// goes out of scope, so a handle is closed on every path, in reverse order of opening.
using UniqueHttpHandle = HttpOwner<&_WinHttpCloseHandle>;
