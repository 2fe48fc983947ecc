#pragma once
// A WinHTTP of our own for the wrapper tests: records what reaches it and answers as told.
#include <string>
#include <vector>

#include "web/winhttp_binding_win.h"

struct FakeWinHttp {
  // What the calls received.
  std::vector<std::string> calls;
  std::wstring agent, proxy, server, verb, objectName, version, referrer, headers;
  bool proxyWasNull = false, bypassWasNull = false, objectWasNull = false, referrerWasNull = false,
       headersWereNull = false;
  DWORD accessType = 0, headersLength = 99, flags = 0, notificationFlags = 0;
  // How the calls answer.
  bool sendSucceeds = true, receiveSucceeds = true, queryAvailableSucceeds = true;
  DWORD sendError = 12029, receiveError = 12002;
  DWORD status = 200;  // the answer's status code
  int connections = 0;  // connection handles open (opened less closed)
  std::string body;
  std::vector<std::size_t> readSizes;  // bytes handed out per read, cycled; empty: all asked
  std::size_t bodyOffset = 0, readCount = 0;
  int closed = 0;
  HttpStatusCallback installed = nullptr;

  // Puts this fake into the process-wide binding; the destructor empties it again.
  FakeWinHttp();
  ~FakeWinHttp();
};
