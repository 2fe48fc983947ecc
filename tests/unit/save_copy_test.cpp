#include "web/save_copy.h"

#include <gtest/gtest.h>

#include <limits>

TEST(DownloadRequestPath, EverythingThroughTheHostIsRemoved) {
  EXPECT_EQ(DownloadRequestPath("https://listen.tuner.test/listen/42", "listen.tuner.test"),
            "/listen/42");
  EXPECT_EQ(DownloadRequestPath("https://d.test/download.php/7", "d.test"), "/download.php/7");
}

TEST(DownloadRequestPath, OnlyTheFirstOccurrenceCounts) {
  EXPECT_EQ(DownloadRequestPath("https://h.test/listen/h.test/1", "h.test"), "/listen/h.test/1");
}

TEST(DownloadRequestPath, AnAddressOfAnotherHostGivesNoRequest) {
  EXPECT_EQ(DownloadRequestPath("https://other.test/listen/42", "h.test"), std::nullopt);
  EXPECT_EQ(DownloadRequestPath("", "h.test"), std::nullopt);
  EXPECT_EQ(DownloadRequestPath("https://h.test/listen/42", ""), std::nullopt);
}

TEST(SizeCanBeSaved, FromOneByteToJustBelowTwoGibibytes) {
  EXPECT_FALSE(SizeCanBeSaved(-1));
  EXPECT_FALSE(SizeCanBeSaved(std::numeric_limits<std::int64_t>::min()));
  EXPECT_FALSE(SizeCanBeSaved(0));
  EXPECT_TRUE(SizeCanBeSaved(1));
  EXPECT_TRUE(SizeCanBeSaved(4000000));
  EXPECT_TRUE(SizeCanBeSaved(2147483647));
  EXPECT_FALSE(SizeCanBeSaved(2147483648));
  EXPECT_FALSE(SizeCanBeSaved(std::numeric_limits<std::int64_t>::max()));
}

TEST(CopyBuffer, OnlyABodyThatReachesTheSizeFillsIt) {
  CopyBuffer exact(6);
  exact.Append("abcdef", 6);
  EXPECT_TRUE(exact.Full());
  EXPECT_EQ(exact.Bytes(), (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 'e', 'f'}));
  CopyBuffer longer(4);
  longer.Append("abcdef", 6);
  EXPECT_TRUE(longer.Full());
  EXPECT_EQ(longer.Bytes(), (std::vector<std::uint8_t>{'a', 'b', 'c', 'd'}));
  CopyBuffer shorter(4);
  shorter.Append("ab", 2);
  EXPECT_FALSE(shorter.Full());
  EXPECT_EQ(shorter.Room(), 2u);
  EXPECT_EQ(CopyBuffer(3).Room(), 3u);
}

TEST(CopyBuffer, ChunksLandInOrderAndTheSurplusIsDropped) {
  CopyBuffer buffer(5);
  buffer.Append("ab", 2);
  buffer.Append("cd", 2);
  buffer.Append("efgh", 4);  // straddles the end
  buffer.Append("ij", 2);    // wholly past it
  EXPECT_EQ(buffer.Bytes(), (std::vector<std::uint8_t>{'a', 'b', 'c', 'd', 'e'}));
  EXPECT_EQ(buffer.Received(), 10u);
}

TEST(ExtendedLengthPath, DriveAndNetworkPathsGetThePrefixOthersStayAsTheyAre) {
  EXPECT_EQ(ExtendedLengthPath("Z:\\music\\host"), "\\\\?\\Z:\\music\\host");
  EXPECT_EQ(ExtendedLengthPath("\\\\server\\share\\host"), "\\\\?\\UNC\\server\\share\\host");
  for (const char* path : {"\\\\?\\C:\\x", "\\\\.\\pipe\\x", "relative\\x", "C:x", ""}) {
    EXPECT_EQ(ExtendedLengthPath(path), path);
  }
}

TEST(SafeSaveName, AnOrdinaryNameIsKept) {
  EXPECT_EQ(SafeSaveName("Some Song - Mix 2.mp3", 40), "Some Song - Mix 2.mp3");
  EXPECT_EQ(SafeSaveName("caf\xc3\xa9 100%.mp3", 40), "caf\xc3\xa9 100%.mp3");
}

TEST(SafeSaveName, CharactersWindowsForbidsBecomeUnderscores) {
  EXPECT_EQ(SafeSaveName("a\\b/c:d*e?f\"g<h>i|j.mp3", 40), "a_b_c_d_e_f_g_h_i_j.mp3");
  EXPECT_EQ(SafeSaveName(std::string("a\0b\x01\x1f\x7f.mp3", 10), 40), "a_b___.mp3");
  // Leaving the folder is impossible once the separators are gone.
  EXPECT_EQ(SafeSaveName("..\\..\\Windows\\win.ini", 40), ".._.._Windows_win.ini");
  EXPECT_EQ(SafeSaveName("C:evil.mp3", 40), "C_evil.mp3");
}

TEST(SafeSaveName, TrailingDotsAndSpacesAreDropped) {
  EXPECT_EQ(SafeSaveName("song.mp3. . ", 40), "song.mp3");
  EXPECT_EQ(SafeSaveName("  song.mp3", 40), "  song.mp3");
}

TEST(SafeSaveName, NothingLeftMeansNoName) {
  for (const char* title : {"", ".", "..", "...", " ", ". .", " . "}) {
    EXPECT_EQ(SafeSaveName(title, 40), std::nullopt) << '"' << title << '"';
  }
}

TEST(SafeSaveName, DeviceNamesInAnyFormGetAnUnderscore) {
  EXPECT_EQ(SafeSaveName("CON", 40), "_CON");
  EXPECT_EQ(SafeSaveName("con.mp3", 40), "_con.mp3");
  EXPECT_EQ(SafeSaveName("Nul.tar.gz", 40), "_Nul.tar.gz");
  EXPECT_EQ(SafeSaveName("aux .mp3", 40), "_aux .mp3");
  EXPECT_EQ(SafeSaveName("PRN. .", 40), "_PRN");
  EXPECT_EQ(SafeSaveName("com1.mp3", 40), "_com1.mp3");
  EXPECT_EQ(SafeSaveName("LPT9", 40), "_LPT9");
  EXPECT_EQ(SafeSaveName("COM0.mp3", 40), "_COM0.mp3");
  EXPECT_EQ(SafeSaveName("com\xb9.mp3", 40), "_com\xb9.mp3");
  EXPECT_EQ(SafeSaveName("CONOUT$", 40), "_CONOUT$");
  EXPECT_EQ(SafeSaveName("conin$.mp3", 40), "_conin$.mp3");
}

TEST(SafeSaveName, NamesThatOnlyResembleDevicesAreKept) {
  for (const char* title :
       {"CONSOLE.mp3", "com10.mp3", "LPT.mp3", "my con.mp3", "xNUL", "song.con", "COMA.mp3"}) {
    EXPECT_EQ(SafeSaveName(title, 40), title);
  }
}

TEST(IsDeviceName, MatchesThePartBeforeTheFirstDot) {
  EXPECT_TRUE(IsDeviceName("aux"));
  EXPECT_TRUE(IsDeviceName("AUX.anything.at.all"));
  EXPECT_TRUE(IsDeviceName(" nul "));
  EXPECT_FALSE(IsDeviceName("_aux"));
  EXPECT_FALSE(IsDeviceName(""));
}

TEST(SafeSaveName, ALongNameIsShortenedToFitKeepingItsExtension) {
  const std::size_t folder = 200;  // leaves 58 characters for the name
  const std::string title = std::string(100, 'n') + ".mp3";
  const auto name = SafeSaveName(title, folder);
  ASSERT_TRUE(name);
  EXPECT_EQ(folder + 1 + name->size(), kLongestPath);
  EXPECT_EQ(*name, std::string(54, 'n') + ".mp3");
}

TEST(SafeSaveName, ANameThatJustFitsIsLeftAlone) {
  const std::string title = std::string(54, 'n') + ".mp3";
  EXPECT_EQ(SafeSaveName(title, 200), title);
  EXPECT_EQ(SafeSaveName(title + "x", 200), std::string(53, 'n') + ".mp3x");
}

TEST(SafeSaveName, ShorteningNeverEndsInADotOrSpaceNorSplitsACharacter) {
  // The cut lands after "ab . " and must not leave the blank and dot at the end.
  EXPECT_EQ(SafeSaveName("ab . cdefgh", 259 - 1 - 5), "ab");
  // "é" is two bytes in UTF-8; a cut between them would leave half a character.
  EXPECT_EQ(SafeSaveName("ab\xc3\xa9xyz.mp3", 259 - 1 - 7), "ab.mp3");
}

TEST(SafeSaveName, AShortenedDeviceNameStillGetsItsUnderscore) {
  // Cut to fit, "CONCERT.mp3" would become "CON.mp3".
  const auto name = SafeSaveName("CONCERT.mp3", 259 - 1 - 7);
  ASSERT_TRUE(name);
  EXPECT_FALSE(IsDeviceName(*name));
  EXPECT_LE(name->size(), 7u);
  EXPECT_EQ(*name, "_CO.mp3");
}

TEST(SafeSaveName, AFolderWithoutRoomForANameGivesNone) {
  EXPECT_EQ(SafeSaveName("song.mp3", 258), std::nullopt);
  EXPECT_EQ(SafeSaveName("song.mp3", 1000), std::nullopt);
  EXPECT_EQ(SafeSaveName("song.mp3", 257), "s");
}

TEST(SaveFolder, CreatedUnlessTheAnswerIsExactlyADirectory) {
  EXPECT_FALSE(SaveFolderMustBeCreated(0x10));
  EXPECT_TRUE(SaveFolderMustBeCreated(0xFFFFFFFF));  // missing
  EXPECT_TRUE(SaveFolderMustBeCreated(0x20));        // a file of that name
}

TEST(PlanSaveCopy, TakesEverythingFromOneSong) {
  const auto plan =
      PlanSaveCopy("https://h.test/listen/42", "a:b.mp3", 4000000, "h.test", "C:\\tuner\\h.test");
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->requestPath, "/listen/42");
  EXPECT_EQ(plan->filePath, "C:\\tuner\\h.test\\a_b.mp3");
  EXPECT_EQ(plan->size, 4000000u);
}

TEST(PlanSaveCopy, NothingIsStartedWithoutSizePathOrName) {
  const std::string folder = "C:\\tuner\\h.test";
  EXPECT_FALSE(PlanSaveCopy("https://h.test/listen/42", "a.mp3", -1, "h.test", folder));
  EXPECT_FALSE(PlanSaveCopy("https://h.test/listen/42", "a.mp3", 0, "h.test", folder));
  EXPECT_FALSE(PlanSaveCopy("https://x.test/listen/42", "a.mp3", 10, "h.test", folder));
  EXPECT_FALSE(PlanSaveCopy("https://h.test/listen/42", "..", 10, "h.test", folder));
}
