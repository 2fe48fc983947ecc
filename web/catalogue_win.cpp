#include "web/catalogue_win.h"

#include <string>

#include "app/console_output_win.h"
#include "app/player_state.h"
#include "app/target_settings.h"
#include "web/catalogue.h"
#include "web/http_request_win.h"

std::uint16_t FetchLatestSongNumber() {
  const SiteSettings& site = Target().site;
  HttpHandle session = _WinHttpOpen(kAccessTypeDefaultProxy, kUserAgent, "", "", 0);
  if (session == nullptr) console::PrintLine("hSession = 0");
  HttpHandle connection = _WinHttpConnect(session, Player().host, 0);
  if (connection == nullptr) console::PrintLine("hConnect = 0");
  HttpHandle request = HttpRequest(connection, "", "GET", "", "");
  if (request == nullptr) console::PrintLine("hRequest = 0");
  const std::string body = ReadResponseBody(request);
  _WinHttpCloseHandle(request);
  _WinHttpCloseHandle(connection);
  _WinHttpCloseHandle(session);
  Sleep(100);
  return FindLatestSongNumber(body, site.numberMarker, site.numberTerminator);
}

void CaptureSongRedirect(std::uint16_t songNumber) {
  PlayerState& player = Player();
  _WinHttpSetStatusCallback(player.httpConnection, RedirectHandler, kCallbackFlagRedirect);
  HttpHandle request = HttpRequest(player.httpConnection,
                                   Target().site.songPagePath + std::to_string(songNumber),
                                   "GET", "", "");
  _WinHttpCloseHandle(request);
}

void CALLBACK RedirectHandler(HttpHandle, DWORD_PTR, DWORD, LPVOID info, DWORD length) {
  if (info == nullptr) return;
  const std::string url = NarrowUrl(static_cast<const char16_t*>(info), length);
  Player().audioUrl.Set(ReplaceAll(url, "%20", " "));
}
