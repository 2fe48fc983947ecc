#include <gtest/gtest.h>

#include <new>

#include "app/player_state.h"
#include "tests/win/support/captured_output.h"
#include "tests/win/support/fake_winhttp.h"
#include "web/catalogue.h"
#include "web/catalogue_win.h"
#include "web/http_request_win.h"
#include "web/winhttp_binding_win.h"

namespace {

HttpHandle const kAny = reinterpret_cast<HttpHandle>(0x55);

TEST(WinHttpWrappers, OpenBeforeTheLibraryIsLoadedReturnsNull) {
  WinHttp() = WinHttpBinding{};
  EXPECT_EQ(_WinHttpOpen(1, "RQ_WinHTTP/1.0", "", "", 0), nullptr);
}

TEST(WinHttpWrappers, NullHandlesCallNothing) {
  FakeWinHttp fake;
  CapturedOutput output;
  EXPECT_FALSE(_WinHttpCloseHandle(nullptr));
  EXPECT_EQ(_WinHttpConnect(nullptr, "host", 0), nullptr);
  EXPECT_EQ(_WinHttpOpenRequest(nullptr, "GET", "x", "HTTP/1.1", "", nullptr, 0), nullptr);
  EXPECT_FALSE(_WinHttpSendRequest(nullptr, "", nullptr, 0, 0, 0));
  EXPECT_FALSE(_WinHttpReceiveResponse(nullptr));
  EXPECT_FALSE(_WinHttpQueryDataAvailable(nullptr, nullptr));
  EXPECT_EQ(_WinHttpReadData(nullptr, 8192), "");
  EXPECT_EQ(_WinHttpSetStatusCallback(nullptr, RedirectHandler, 0x4000), nullptr);
  DWORD status = 0, length = sizeof(status);
  EXPECT_FALSE(_WinHttpQueryHeaders(nullptr, 19 | 0x20000000, "", &status, &length, nullptr));
  EXPECT_EQ(ResponseStatus(nullptr), 0u);
  EXPECT_EQ(ReadResponseBody(nullptr, kHomePageLimit), "");
  EXPECT_EQ(HttpRequest(nullptr, "", "GET", "", ""), nullptr);
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(output.Text(), "");
}

TEST(WinHttpWrappers, EmptyTextsReachWinHttpAsNullPointers) {
  FakeWinHttp fake;
  EXPECT_NE(_WinHttpOpen(1, "RQ_WinHTTP/1.0", "", "", 0), nullptr);
  EXPECT_EQ(fake.agent, L"RQ_WinHTTP/1.0");
  EXPECT_TRUE(fake.proxyWasNull);
  EXPECT_TRUE(fake.bypassWasNull);
  EXPECT_EQ(fake.accessType, 1u);
  _WinHttpOpenRequest(kAny, "get", "", "http/1.1", "", nullptr, 0x40);
  EXPECT_TRUE(fake.objectWasNull);
  EXPECT_TRUE(fake.referrerWasNull);
}

TEST(WinHttpWrappers, VerbAndVersionAreUpperCasedAndTheObjectKeepsItsCase) {
  FakeWinHttp fake;
  _WinHttpOpenRequest(kAny, "get", "listen/Song42", "http/1.1", "ref", nullptr, 0x40);
  EXPECT_EQ(fake.verb, L"GET");
  EXPECT_EQ(fake.version, L"HTTP/1.1");
  EXPECT_EQ(fake.objectName, L"listen/Song42");
  EXPECT_EQ(fake.referrer, L"ref");
  EXPECT_EQ(fake.flags, 0x40u);
}

TEST(HttpRequestLayer, AFailedSendPrintsItsLineClosesTheRequestAndSkipsTheReceive) {
  FakeWinHttp fake;
  fake.sendSucceeds = false;
  CapturedOutput output;
  EXPECT_EQ(HttpRequest(kAny, "listen/1", "GET", "", ""), nullptr);
  EXPECT_EQ(output.Text(), "Error 12029 in function _WinHttpSendRequest!\r\n");
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"OpenRequest", "Send", "Close"}));
}

TEST(HttpRequestLayer, AFailedReceivePrintsItsLineAndClosesTheRequest) {
  FakeWinHttp fake;
  fake.receiveSucceeds = false;
  CapturedOutput output;
  EXPECT_EQ(HttpRequest(kAny, "", "GET", "", ""), nullptr);
  EXPECT_EQ(output.Text(), "Error 12002 in function _WinHttpReceiveResponse!\r\n");
  EXPECT_EQ(fake.closed, 1);
}

TEST(HttpRequestLayer, PostWithoutHeadersSendsTheFormTypeAndGetSendsNone) {
  FakeWinHttp fake;
  EXPECT_NE(HttpRequest(kAny, "form", "POST", "", ""), nullptr);
  EXPECT_EQ(fake.headers, L"Content-Type: application/x-www-form-urlencoded\n\r");
  EXPECT_EQ(fake.headersLength, 0u);
  EXPECT_NE(HttpRequest(kAny, "page", "GET", "", ""), nullptr);
  EXPECT_TRUE(fake.headersWereNull);
  EXPECT_EQ(fake.flags, 0x40u);
}

TEST(HttpRequestLayer, TheBodyReaderReturnsEveryByteHoweverTheReadsAreSplit) {
  std::string body;
  for (int i = 0; i < 30000; ++i) body += static_cast<char>(i * 7 % 256);
  for (std::vector<std::size_t> sizes : {std::vector<std::size_t>{}, {1, 8191, 3},
                                        {8192}, {5000, 100}}) {
    FakeWinHttp fake;
    fake.body = body;
    fake.readSizes = sizes;
    EXPECT_EQ(ReadResponseBody(kAny, kHomePageLimit), body);
  }
}

TEST(HttpRequestLayer, TheBodyReaderStopsAtItsLimit) {
  FakeWinHttp fake;
  fake.body = std::string(100000, 'x');
  fake.readSizes = {3000};
  EXPECT_EQ(ReadResponseBody(kAny, 20000), std::string(20000, 'x'));
  EXPECT_EQ(fake.bodyOffset, 21000u);  // the read that crossed the limit, and no more
}

TEST(HttpRequestLayer, AnEmptyOrUnavailableBodyIsEmpty) {
  FakeWinHttp fake;
  EXPECT_EQ(ReadResponseBody(kAny, kHomePageLimit), "");
  EXPECT_EQ(fake.readCount, 1u);
  fake.body = "never read";
  fake.queryAvailableSucceeds = false;
  EXPECT_EQ(ReadResponseBody(kAny, kHomePageLimit), "");
  EXPECT_EQ(fake.bodyOffset, 0u);
}

TEST(Redirects, TheHandlerStoresTheTargetWithSpacesForPercent20) {
  std::u16string url = u"https://listen.tuner.test/files/Blue%20Hour.mp3";
  RedirectHandler(nullptr, 0, 0x4000, url.data(), static_cast<DWORD>(url.size()));
  EXPECT_EQ(Player().audioUrl.Get(), "https://listen.tuner.test/files/Blue Hour.mp3");
  // A count that includes the terminator adds nothing.
  RedirectHandler(nullptr, 0, 0x4000, url.data(), static_cast<DWORD>(url.size() + 1));
  EXPECT_EQ(Player().audioUrl.Get(), "https://listen.tuner.test/files/Blue Hour.mp3");
}

TEST(Redirects, EachSongPageHasAConnectionOfItsOwnWithTheHandlerInstalledFirst) {
  FakeWinHttp fake;
  Player().httpSession = kAny;
  Player().host = "listen.tuner.test";
  for (int song : {1234, 1235}) {
    fake.calls.clear();
    CaptureSongRedirect(static_cast<std::uint16_t>(song));
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"Connect", "SetStatusCallback", "OpenRequest",
                                                    "Send", "Receive", "Close", "Close"}));
    EXPECT_EQ(fake.server, L"listen.tuner.test");
    EXPECT_EQ(fake.objectName, L"listen/" + std::to_wstring(song));
    EXPECT_EQ(fake.connections, 0);
  }
  EXPECT_EQ(fake.installed, &RedirectHandler);
  EXPECT_EQ(fake.notificationFlags, 0x4000u);
  Player().httpSession = nullptr;
}

TEST(Redirects, APageWithoutARedirectLeavesNoNameNotTheLastSongs) {
  FakeWinHttp fake;  // answers without calling the handler
  Player().httpSession = kAny;
  Player().audioUrl.Set("https://listen.tuner.test/files/Song 1.mp3");
  CaptureSongRedirect(2);
  EXPECT_EQ(Player().audioUrl.Get(), "");
  Player().audioUrl.Set("https://listen.tuner.test/files/Song 1.mp3");
  fake.sendSucceeds = false;  // nor does a page that could not be asked for
  CapturedOutput quiet;
  CaptureSongRedirect(2);
  EXPECT_EQ(Player().audioUrl.Get(), "");
  Player().httpSession = nullptr;
}

TEST(Redirects, RunningOutOfMemoryEndsTheStepCleanly) {
  FakeWinHttp fake;
  WinHttp().WinHttpReadData = [](HttpHandle, LPVOID, DWORD, LPDWORD) WINAPI -> BOOL {
    throw std::bad_alloc();  // as a chunk's allocation would
  };
  CapturedOutput quiet;
  EXPECT_EQ(FetchLatestSongNumber(), 0);  // start-up then ends with its exit code 3
  EXPECT_EQ(fake.closed, 3);
  WinHttp().WinHttpReceiveResponse = [](HttpHandle, LPVOID) WINAPI -> BOOL { throw std::bad_alloc(); };
  Player().httpSession = kAny;
  CaptureSongRedirect(7);
  EXPECT_EQ(fake.closed, 5);  // its request and its connection
  Player().httpSession = nullptr;
}

TEST(WinHttpBinding, TheRealLibraryBindsAndUnloads) {
  ASSERT_TRUE(LoadWinHttp());
  EXPECT_NE(WinHttp().WinHttpSetStatusCallback, nullptr);
  EXPECT_NE(WinHttp().WinHttpQueryHeaders, nullptr);
  EXPECT_TRUE(UnloadWinHttp());
  WinHttp() = WinHttpBinding{};
  EXPECT_FALSE(UnloadWinHttp());
}

}  // namespace
