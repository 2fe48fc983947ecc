#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <utility>

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

// How far one call moved its caller's stack pointer: 0 when caller and callee agree on who
// takes the arguments off the stack. An entry of the other calling convention leaves the stack
// off by the size of its arguments on x86, long before anything crashes.
#if defined(__i386__)
#define READ_STACK_POINTER "movl %%esp, %0"
#define WRITE_STACK_POINTER "movl %0, %%esp"
#elif defined(__x86_64__)
#define READ_STACK_POINTER "movq %%rsp, %0"
#define WRITE_STACK_POINTER "movq %0, %%rsp"
#endif

#ifdef READ_STACK_POINTER
template <typename Entry, typename... Args>
[[gnu::noinline]] std::ptrdiff_t StackDrift(Entry* entry, Args... args) {
  std::uintptr_t before = 0, after = 0;
  asm volatile(READ_STACK_POINTER : "=r"(before) : : "memory");
  entry(args...);
  asm volatile(READ_STACK_POINTER : "=r"(after) : : "memory");
  // Put right what a wrong call left, so that the test reports it instead of crashing.
  asm volatile(WRITE_STACK_POINTER : : "r"(before) : "memory");
  return static_cast<std::ptrdiff_t>(after - before);
}

extern "C" [[gnu::noinline]] int __cdecl TakesTwoAndLeavesThem(int a, int b) { return a + b; }

TEST_F(AudioLibraryBinding, EveryEntryLeavesTheCallersStackAsItFoundIt) {
#ifdef __i386__
  // The measure itself: a cdecl function called as stdcall leaves its two arguments behind.
  // (Through a volatile, so that the compiler cannot see which function it calls.)
  int(WINAPI* volatile asStdcall)(int, int) =
      reinterpret_cast<int(WINAPI*)(int, int)>(&TakesTwoAndLeavesThem);
  ASSERT_EQ(StackDrift(+asStdcall, 1, 2), -8);
#endif
  ASSERT_TRUE(LoadAudioLibrary(TestsFolder() + "\\..\\bin"));
  AudioLibrary& a = Audio();
  BASS_DEVICEINFO device{};
  BASS_INFO info{};
  BASS_CHANNELINFO channel{};
  float value = 0;
  char buffer[16] = {};
  const std::pair<const char*, std::ptrdiff_t> drifts[] = {
      {"BASS_Init", StackDrift(a.BASS_Init, 0, DWORD{44100}, DWORD{0}, HWND{}, nullptr)},
      {"BASS_StreamCreateFile",
       StackDrift(a.BASS_StreamCreateFile, FALSE, "no such file.mp3", QWORD{0}, QWORD{0}, DWORD{0})},
      {"BASS_StreamCreateURL", StackDrift(a.BASS_StreamCreateURL, "unknown://scheme", DWORD{0},
                                          DWORD{0}, nullptr, nullptr)},
      {"BASS_StreamFree", StackDrift(a.BASS_StreamFree, HSTREAM{0})},
      {"BASS_ChannelPlay", StackDrift(a.BASS_ChannelPlay, DWORD{0}, TRUE)},
      {"BASS_ChannelStop", StackDrift(a.BASS_ChannelStop, DWORD{0})},
      {"BASS_Stop", StackDrift(a.BASS_Stop)},
      {"BASS_SetVolume", StackDrift(a.BASS_SetVolume, 0.5f)},
      {"BASS_ErrorGetCode", StackDrift(a.BASS_ErrorGetCode)},
      {"BASS_GetDeviceInfo", StackDrift(a.BASS_GetDeviceInfo, DWORD{0}, &device)},
      {"BASS_GetDevice", StackDrift(a.BASS_GetDevice)},
      {"BASS_StreamGetFilePosition",
       StackDrift(a.BASS_StreamGetFilePosition, HSTREAM{0}, BASS_FILEPOS_SIZE)},
      {"BASS_GetInfo", StackDrift(a.BASS_GetInfo, &info)},
      {"BASS_ChannelGetInfo", StackDrift(a.BASS_ChannelGetInfo, DWORD{0}, &channel)},
      {"BASS_ChannelGetData",
       StackDrift(a.BASS_ChannelGetData, DWORD{0}, static_cast<void*>(buffer), DWORD{0})},
      {"BASS_ChannelGetLevel", StackDrift(a.BASS_ChannelGetLevel, DWORD{0})},
      {"BASS_ChannelGetLevelEx",
       StackDrift(a.BASS_ChannelGetLevelEx, DWORD{0}, &value, 0.02f, BASS_LEVEL_MONO)},
      {"BASS_ChannelGetPosition", StackDrift(a.BASS_ChannelGetPosition, DWORD{0}, BASS_POS_BYTE)},
      {"BASS_ChannelPause", StackDrift(a.BASS_ChannelPause, DWORD{0})},
      {"BASS_ChannelGetLength", StackDrift(a.BASS_ChannelGetLength, DWORD{0}, BASS_POS_BYTE)},
      {"BASS_ChannelGetTags", StackDrift(a.BASS_ChannelGetTags, DWORD{0}, BASS_TAG_HTTP)},
      {"BASS_ChannelGetAttribute",
       StackDrift(a.BASS_ChannelGetAttribute, DWORD{0}, BASS_ATTRIB_BITRATE, &value)},
      {"BASS_ChannelBytes2Seconds", StackDrift(a.BASS_ChannelBytes2Seconds, DWORD{0}, QWORD{4})},
      {"BASS_ChannelSetAttribute",
       StackDrift(a.BASS_ChannelSetAttribute, DWORD{0}, BASS_ATTRIB_VOL, 0.5f)},
      {"BASS_ChannelSetPosition",
       StackDrift(a.BASS_ChannelSetPosition, DWORD{0}, QWORD{0}, BASS_POS_BYTE | BASS_POS_SCAN)},
      {"BASS_MusicLoad", StackDrift(a.BASS_MusicLoad, FALSE, "no such file.mod", QWORD{0},
                                    DWORD{0}, DWORD{0}, DWORD{0})},
      {"BASS_MusicFree", StackDrift(a.BASS_MusicFree, HMUSIC{0})},
      {"BASS_Free", StackDrift(a.BASS_Free)},
  };
  EXPECT_EQ(std::size(drifts), 28u);
  for (const auto& [name, drift] : drifts) EXPECT_EQ(drift, 0) << name;
}
#endif

}  // namespace
