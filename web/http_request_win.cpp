#include "web/http_request_win.h"

#include "app/player_state.h"

std::string ReadResponseBody(HttpHandle request) {
  if (request == nullptr) return {};
  if (!_WinHttpQueryDataAvailable(request, nullptr)) return {};
  std::string body;
  for (;;) {
    std::string chunk = _WinHttpReadData(request, kBodyChunkSize);
    if (chunk.empty()) break;
    body += chunk;
  }
  return body;
}

HttpHandle HttpRequest(HttpHandle connection, const std::string& objectName,
                       const std::string& verb, const std::string& referrer,
                       const std::string& headers) {
  if (connection == nullptr) return nullptr;
  HttpHandle request = _WinHttpOpenRequest(connection, verb, objectName, "HTTP/1.1", referrer,
                                           nullptr, kFlagEscapeDisable);
  if (request == nullptr) return nullptr;
  std::string sent = headers;
  if (verb == "POST" && sent.empty()) sent = "Content-Type: application/x-www-form-urlencoded\n\r";
  if (!_WinHttpSendRequest(request, sent, nullptr, 0, 0, 0) ||
      !_WinHttpReceiveResponse(request)) {
    _WinHttpCloseHandle(request);
    return nullptr;
  }
  return request;
}

void OpenSharedConnection(const std::string& host) {
  PlayerState& player = Player();
  player.httpSession = _WinHttpOpen(kAccessTypeNoProxy, kUserAgent, "", "", 0);
  player.httpConnection = _WinHttpConnect(player.httpSession, host, 0);
}

void CloseSharedConnection() {
  PlayerState& player = Player();
  _WinHttpCloseHandle(player.httpConnection);
  _WinHttpCloseHandle(player.httpSession);
}
