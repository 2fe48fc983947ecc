#include <gtest/gtest.h>

#include <string>

#include "audio/audio_library_win.h"

namespace {

// The folders beside win_tests.exe: ..\bin holds our Bass.dll, bass_lacking_one a DLL that
// exports every name but BASS_MusicFree.
std::string TestsFolder() { return ProgramDirectory(); }

class AudioLibraryBinding : public ::testing::Test {
 protected:
  void TearDown() override {
    UnloadAudioLibrary();
    Audio() = AudioLibrary{};
  }
};

TEST_F(AudioLibraryBinding, OurBassDllBindsAllEntriesAndUnloadsOnce) {
  ASSERT_TRUE(LoadAudioLibrary(TestsFolder() + "\\..\\bin"));
  EXPECT_NE(Audio().BASS_MusicFree, nullptr);
  EXPECT_NE(Audio().BASS_ChannelGetLevelEx, nullptr);
  EXPECT_TRUE(UnloadAudioLibrary());
  EXPECT_FALSE(UnloadAudioLibrary());
}

TEST_F(AudioLibraryBinding, ALibraryLackingAnEntryTheProgramNeverCallsStillFails) {
  EXPECT_FALSE(LoadAudioLibrary(TestsFolder() + "\\bass_lacking_one"));
  // Loaded, and every name before the missing one resolved.
  EXPECT_NE(Audio().library, nullptr);
  EXPECT_NE(Audio().BASS_MusicLoad, nullptr);
  EXPECT_EQ(Audio().BASS_MusicFree, nullptr);
}

TEST_F(AudioLibraryBinding, AMissingFileIsNeverLoaded) {
  EXPECT_FALSE(LoadAudioLibrary(TestsFolder() + "\\no such folder"));
  EXPECT_EQ(Audio().library, nullptr);
  EXPECT_EQ(Audio().BASS_Init, nullptr);
  EXPECT_FALSE(UnloadAudioLibrary());
}

}  // namespace
