#include "web/catalogue.h"

#include <gtest/gtest.h>

namespace {

const std::string kMarkerA = "<td class=\"c1\"><a href=\"/listen/";
const std::string kMarkerB = "<a class=\"date\" href=\"/remix/";

TEST(FindLatestSongNumber, ReadsTheNumberAfterEachSitesMarker) {
  const std::string pageA = "<tr>" + kMarkerA + "1234/\">Song</a></td></tr>";
  EXPECT_EQ(FindLatestSongNumber(pageA, kMarkerA, '/'), 1234);
  EXPECT_EQ(FindLatestSongNumber(pageA, kMarkerB, '"'), 0);  // the other site's page
  EXPECT_EQ(FindLatestSongNumber(kMarkerB + "987\">x</a>", kMarkerB, '"'), 987);
}

TEST(FindLatestSongNumber, OnlyTheFirstMarkerCounts) {
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "12/" + kMarkerA + "99999/", kMarkerA, '/'), 12);
}

TEST(FindLatestSongNumber, NumberTextRules) {
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "   77/", kMarkerA, '/'), 77);
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "42abc/", kMarkerA, '/'), 42);
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "/1", kMarkerA, '/'), 0);
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "abc/", kMarkerA, '/'), 0);
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + " -5/", kMarkerA, '/'), 0);
  // Without a terminator the rest of the page is the number text.
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "31", kMarkerA, '/'), 31);
  EXPECT_EQ(FindLatestSongNumber(kMarkerA, kMarkerA, '/'), 0);
  EXPECT_EQ(FindLatestSongNumber("", kMarkerA, '/'), 0);
}

TEST(FindLatestSongNumber, KeepsTheLow16Bits) {
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "65537/", kMarkerA, '/'), 1);
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "65535/", kMarkerA, '/'), 65535);
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "70000/", kMarkerA, '/'), 70000 - 65536);
  // A number far beyond 64 bits still gives its true low 16 bits (10^30 mod 65536 = 0).
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "1000000000000000000000000000000/", kMarkerA, '/'), 0);
  EXPECT_EQ(FindLatestSongNumber(kMarkerA + "1000000000000000000000000000001/", kMarkerA, '/'), 1);
}

TEST(ReplaceAll, TurnsPercent20IntoSpacesAndTrimsTheEnds) {
  EXPECT_EQ(ReplaceAll("https://h/files/Blue%20Hour.mp3", "%20", " "),
            "https://h/files/Blue Hour.mp3");
  EXPECT_EQ(ReplaceAll("%20middle%20", "%20", " "), "middle");
  EXPECT_EQ(ReplaceAll("a%20%20b", "%20", " "), "a  b");
  EXPECT_EQ(ReplaceAll("%20", "%20", " "), "");
}

TEST(ReplaceAll, LeavesATextWithoutTheSearchedTextAsItCame) {
  EXPECT_EQ(ReplaceAll("  spaced out.mp3 ", "%20", " "), "  spaced out.mp3 ");
  EXPECT_EQ(ReplaceAll("", "%20", " "), "");
}

TEST(ReplaceAll, AReplacementHoldingTheSearchedTextCannotLoopForEver) {
  EXPECT_EQ(ReplaceAll("a%20b", "%20", "%20%20"), "a%20b");
}

TEST(FileNameOfUrl, IsTheTextAfterTheLastSlash) {
  EXPECT_EQ(FileNameOfUrl("https://h/files/Blue Hour.mp3"), "Blue Hour.mp3");
  EXPECT_EQ(FileNameOfUrl("https://h/files/"), "");
  EXPECT_EQ(FileNameOfUrl("no slash"), "no slash");
  EXPECT_EQ(FileNameOfUrl(""), "");
}

TEST(NarrowUrl, KeepsAsciiAndMarksEverythingElse) {
  const std::u16string wide = u"https://h/\u00e9t\u00e9.mp3";
  EXPECT_EQ(NarrowUrl(wide.data(), wide.size()), "https://h/?t?.mp3");
}

}  // namespace
