#include "web/catalogue_win.h"

#include <new>
#include <string>

#include "app/console_output_win.h"
#include "app/player_state.h"
#include "app/target_settings.h"
#include "web/catalogue.h"
#include "web/http_request_win.h"

namespace {

// The home page's body, read up to its limit. Its own session and connection are closed
// before this returns, request first.
std::string FetchHomePage() {
  UniqueHttpHandle session(_WinHttpOpen(kAccessTypeDefaultProxy, kUserAgent, "", "", 0));
  if (session.get() == nullptr) console::PrintLine("hSession = 0");
  UniqueHttpHandle connection(_WinHttpConnect(session.get(), Player().host, 0));
  if (connection.get() == nullptr) console::PrintLine("hConnect = 0");
  UniqueHttpHandle request(HttpRequest(connection.get(), "", "GET", "", ""));
  if (request.get() == nullptr) console::PrintLine("hRequest = 0");
  return ReadResponseBody(request.get(), kHomePageLimit);
}

}  // namespace

std::uint16_t FetchLatestSongNumber() {
  const SiteSettings& site = Target().site;
  std::string body;
  try {
    body = FetchHomePage();
  } catch (const std::bad_alloc&) {
    // No memory for the page: no number, which start-up reports like any unreadable page.
  }
  Sleep(100);
  return FindLatestSongNumber(body, site.numberMarker, site.numberTerminator);
}

void CaptureSongRedirect(std::uint16_t songNumber) {
  PlayerState& player = Player();
  // A page that answers without a redirect must leave no name behind, least of all the
  // last song's: "d" would save this song under it.
  player.audioUrl.Set({});
  try {
    // A connection of this page's own: Wine's WinHTTP moves a connection to the host and
    // port its redirect led to, and the next page must still go to the site's plain port.
    // No socket is opened for it; the session pools those.
    UniqueHttpHandle connection(ConnectToSite());
    _WinHttpSetStatusCallback(connection.get(), RedirectHandler, kCallbackFlagRedirect);
    UniqueHttpHandle request(HttpRequest(connection.get(),
                                         Target().site.songPagePath + std::to_string(songNumber),
                                         "GET", "", ""));
  } catch (const std::bad_alloc&) {
    // The page could not be asked for: the song goes on without a name.
  }
}

void CALLBACK RedirectHandler(HttpHandle, DWORD_PTR, DWORD, LPVOID info, DWORD length) {
  if (info == nullptr) return;
  try {
    const std::string url = NarrowUrl(static_cast<const char16_t*>(info), length);
    Player().audioUrl.Set(ReplaceAll(url, "%20", " "));
  } catch (...) {
    // Nothing may cross back into WinHTTP; the song keeps no name.
  }
}
