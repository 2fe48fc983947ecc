// Our Bass.dll as a program binds it: every entry by its undecorated name, and the
// vendor's error codes for calls that cannot succeed.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "audio/bass_api.h"

namespace {

HMODULE LoadOurBass() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path);
  folder.resize(folder.find_last_of('\\'));  // build/win/tests
  return LoadLibraryA((folder + "\\..\\bin\\Bass.dll").c_str());
}

template <typename Entry>
Entry* Get(HMODULE library, const char* name) {
  return reinterpret_cast<Entry*>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

class BassExports : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = LoadOurBass();
    ASSERT_NE(library_, nullptr);
  }
  void TearDown() override {
    if (auto* free = Get<bass::Free>(library_, "BASS_Free")) free();
    FreeLibrary(library_);
  }
  int Error() { return Get<bass::ErrorGetCode>(library_, "BASS_ErrorGetCode")(); }
  HMODULE library_ = nullptr;
};

TEST_F(BassExports, ExportsAllTwentyEightNamesUndecorated) {
  const char* names[] = {
      "BASS_Init", "BASS_Free", "BASS_StreamCreateFile", "BASS_StreamCreateURL",
      "BASS_StreamFree", "BASS_ChannelPlay", "BASS_ChannelStop", "BASS_Stop", "BASS_SetVolume",
      "BASS_ErrorGetCode", "BASS_GetDeviceInfo", "BASS_GetDevice", "BASS_StreamGetFilePosition",
      "BASS_GetInfo", "BASS_ChannelGetInfo", "BASS_ChannelGetData", "BASS_ChannelGetLevel",
      "BASS_ChannelGetLevelEx", "BASS_ChannelGetPosition", "BASS_ChannelPause",
      "BASS_ChannelGetLength", "BASS_ChannelGetTags", "BASS_ChannelGetAttribute",
      "BASS_ChannelBytes2Seconds", "BASS_ChannelSetAttribute", "BASS_ChannelSetPosition",
      "BASS_MusicLoad", "BASS_MusicFree"};
  for (const char* name : names) EXPECT_NE(GetProcAddress(library_, name), nullptr) << name;
}

TEST_F(BassExports, RefusesStreamsBeforeInitAndInitOnlyOnce) {
  auto* create = Get<bass::StreamCreateURL>(library_, "BASS_StreamCreateURL");
  EXPECT_EQ(create("http://127.0.0.1:1/x.mp3", 0, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(Error(), BASS_ERROR_INIT);
  EXPECT_EQ(Get<bass::GetDevice>(library_, "BASS_GetDevice")(), DWORD(-1));
  auto* init = Get<bass::Init>(library_, "BASS_Init");
  EXPECT_FALSE(init(7, 44100, 0, nullptr, nullptr));
  EXPECT_EQ(Error(), BASS_ERROR_DEVICE);
  EXPECT_TRUE(init(-1, 44100, 0, nullptr, nullptr));
  EXPECT_EQ(Error(), BASS_OK);
  EXPECT_EQ(Get<bass::GetDevice>(library_, "BASS_GetDevice")(), 1u);
  EXPECT_FALSE(init(-1, 44100, 0, nullptr, nullptr));
  EXPECT_EQ(Error(), BASS_ERROR_ALREADY);
}

TEST_F(BassExports, BadHandlesAndUnplayableInputGiveTheVendorsCodes) {
  ASSERT_TRUE(Get<bass::Init>(library_, "BASS_Init")(0, 44100, 0, nullptr, nullptr));
  EXPECT_FALSE(Get<bass::ChannelPlay>(library_, "BASS_ChannelPlay")(12345, TRUE));
  EXPECT_EQ(Error(), BASS_ERROR_HANDLE);
  EXPECT_EQ(Get<bass::ChannelGetLength>(library_, "BASS_ChannelGetLength")(12345, BASS_POS_BYTE),
            QWORD(-1));
  EXPECT_EQ(Get<bass::StreamGetFilePosition>(library_, "BASS_StreamGetFilePosition")(
                12345, BASS_FILEPOS_SIZE),
            QWORD(-1));
  EXPECT_LT(Get<bass::ChannelBytes2Seconds>(library_, "BASS_ChannelBytes2Seconds")(12345, 100), 0);
  std::string page = "<html><body>not a song</body></html>";
  EXPECT_EQ(Get<bass::StreamCreateFile>(library_, "BASS_StreamCreateFile")(
                TRUE, page.data(), 0, page.size(), 0),
            0u);
  EXPECT_EQ(Error(), BASS_ERROR_FILEFORM);
  EXPECT_EQ(Get<bass::MusicLoad>(library_, "BASS_MusicLoad")(TRUE, page.data(), 0, 10, 0, 0), 0u);
  EXPECT_EQ(Error(), BASS_ERROR_FILEFORM);
  EXPECT_FALSE(Get<bass::MusicFree>(library_, "BASS_MusicFree")(1));
  EXPECT_EQ(Error(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(Get<bass::SetVolume>(library_, "BASS_SetVolume")(1.5f));
  EXPECT_EQ(Error(), BASS_ERROR_ILLPARAM);
}

TEST_F(BassExports, AStreamFromSilentFramesInMemoryPlaysAgainstTheClock) {
  ASSERT_TRUE(Get<bass::Init>(library_, "BASS_Init")(0, 44100, 0, nullptr, nullptr));
  // Forty frames of MPEG-1 Layer III silence: 128 kbps, 44.1 kHz, no padding.
  std::vector<unsigned char> song;
  for (int i = 0; i < 40; ++i) {
    unsigned char header[] = {0xFF, 0xFB, 0x90, 0x00};
    song.insert(song.end(), header, header + 4);
    song.resize(song.size() + 413, 0);
  }
  HSTREAM stream = Get<bass::StreamCreateFile>(library_, "BASS_StreamCreateFile")(
      TRUE, song.data(), 0, song.size(), 0);
  ASSERT_NE(stream, 0u) << Error();
  EXPECT_EQ(Get<bass::ChannelGetLength>(library_, "BASS_ChannelGetLength")(stream, BASS_POS_BYTE),
            QWORD(40 * 1152 * 4));
  EXPECT_EQ(Get<bass::StreamGetFilePosition>(library_, "BASS_StreamGetFilePosition")(
                stream, BASS_FILEPOS_SIZE),
            QWORD(song.size()));
  EXPECT_TRUE(Get<bass::ChannelPlay>(library_, "BASS_ChannelPlay")(stream, TRUE));
  Sleep(300);
  QWORD position = Get<bass::ChannelGetPosition>(library_, "BASS_ChannelGetPosition")(stream, BASS_POS_BYTE);
  EXPECT_GT(position, QWORD(44100 * 4 / 10));
  EXPECT_LT(position, QWORD(44100 * 4));
  EXPECT_TRUE(Get<bass::StreamFree>(library_, "BASS_StreamFree")(stream));
  EXPECT_FALSE(Get<bass::StreamFree>(library_, "BASS_StreamFree")(stream));
  EXPECT_EQ(Error(), BASS_ERROR_HANDLE);
}

}  // namespace
