#include "web/http_request_win.h"

#include "app/player_state.h"

std::string ReadResponseBody(HttpHandle request, std::size_t limit) {
  if (request == nullptr) return {};
  if (!_WinHttpQueryDataAvailable(request, nullptr)) return {};
  std::string body;
  while (body.size() < limit) {
    std::string chunk = _WinHttpReadData(request, kBodyChunkSize);
    if (chunk.empty()) break;
    body += chunk;
  }
  if (body.size() > limit) body.resize(limit);
  return body;
}

DWORD ResponseStatus(HttpHandle request) {
  DWORD status = 0;
  DWORD length = sizeof(status);
  if (!_WinHttpQueryHeaders(request, kQueryStatusCode | kQueryFlagNumber, "", &status, &length,
                            nullptr))
    return 0;
  return status;
}

HttpHandle HttpRequest(HttpHandle connection, const std::string& objectName,
                       const std::string& verb, const std::string& referrer,
                       const std::string& headers) {
  if (connection == nullptr) return nullptr;
  UniqueHttpHandle request(_WinHttpOpenRequest(connection, verb, objectName, "HTTP/1.1",
                                               referrer, nullptr, kFlagEscapeDisable));
  if (request.get() == nullptr) return nullptr;
  std::string sent = headers;
  if (verb == "POST" && sent.empty()) sent = "Content-Type: application/x-www-form-urlencoded\n\r";
  if (!_WinHttpSendRequest(request.get(), sent, nullptr, 0, 0, 0) ||
      !_WinHttpReceiveResponse(request.get())) {
    return nullptr;
  }
  return request.release();
}

void OpenSharedSession() {
  Player().httpSession = _WinHttpOpen(kAccessTypeNoProxy, kUserAgent, "", "", 0);
}

void CloseSharedSession() { _WinHttpCloseHandle(Player().httpSession); }

HttpHandle ConnectToSite() {
  const PlayerState& player = Player();
  return _WinHttpConnect(player.httpSession, player.host, 0);
}
