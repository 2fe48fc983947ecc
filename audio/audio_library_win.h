#pragma once
// Run-time binding of the audio library ("Bass.dll" beside the program).
#include <string>

#include "audio/bass_api.h"

struct AudioLibrary {
  HMODULE library = nullptr;
  bass::Init* BASS_Init = nullptr;
  bass::Free* BASS_Free = nullptr;
  bass::StreamCreateFile* BASS_StreamCreateFile = nullptr;
  bass::StreamCreateURL* BASS_StreamCreateURL = nullptr;
  bass::StreamFree* BASS_StreamFree = nullptr;
  bass::ChannelPlay* BASS_ChannelPlay = nullptr;
  bass::ChannelStop* BASS_ChannelStop = nullptr;
  bass::Stop* BASS_Stop = nullptr;
  bass::SetVolume* BASS_SetVolume = nullptr;
  bass::ErrorGetCode* BASS_ErrorGetCode = nullptr;
  bass::GetDeviceInfo* BASS_GetDeviceInfo = nullptr;
  bass::GetDevice* BASS_GetDevice = nullptr;
  bass::StreamGetFilePosition* BASS_StreamGetFilePosition = nullptr;
  bass::GetInfo* BASS_GetInfo = nullptr;
  bass::ChannelGetInfo* BASS_ChannelGetInfo = nullptr;
  bass::ChannelGetData* BASS_ChannelGetData = nullptr;
  bass::ChannelGetLevel* BASS_ChannelGetLevel = nullptr;
  bass::ChannelGetLevelEx* BASS_ChannelGetLevelEx = nullptr;
  bass::ChannelGetPosition* BASS_ChannelGetPosition = nullptr;
  bass::ChannelPause* BASS_ChannelPause = nullptr;
  bass::ChannelGetLength* BASS_ChannelGetLength = nullptr;
  bass::ChannelGetTags* BASS_ChannelGetTags = nullptr;
  bass::ChannelGetAttribute* BASS_ChannelGetAttribute = nullptr;
  bass::ChannelBytes2Seconds* BASS_ChannelBytes2Seconds = nullptr;
  bass::ChannelSetAttribute* BASS_ChannelSetAttribute = nullptr;
  bass::ChannelSetPosition* BASS_ChannelSetPosition = nullptr;
  bass::MusicLoad* BASS_MusicLoad = nullptr;
  bass::MusicFree* BASS_MusicFree = nullptr;
};

// The process-wide binding; main thread only.
AudioLibrary& Audio();

// Loads "<programDirectory>\Bass.dll" and resolves the 28 entry points in order; false
// when the file is missing, will not load, or lacks any one of them.
bool LoadAudioLibrary(const std::string& programDirectory);
bool UnloadAudioLibrary();

// The directory that holds the running program, without a trailing separator.
std::string ProgramDirectory();

// Thin operations over the entries the player calls: arguments pass unchanged, BOOL
// results become bool.
namespace audio {
inline bool Init() { return Audio().BASS_Init(-1, 44100, 0, nullptr, nullptr) != FALSE; }
inline bool Free() { return Audio().BASS_Free() != FALSE; }
inline HSTREAM StreamCreateURL(const std::string& url) {
  return Audio().BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
}
inline bool StreamFree(HSTREAM s) { return Audio().BASS_StreamFree(s) != FALSE; }
inline bool ChannelPlay(HSTREAM s, bool restart) {
  return Audio().BASS_ChannelPlay(s, restart ? TRUE : FALSE) != FALSE;
}
inline bool ChannelStop(HSTREAM s) { return Audio().BASS_ChannelStop(s) != FALSE; }
inline bool ChannelPause(HSTREAM s) { return Audio().BASS_ChannelPause(s) != FALSE; }
inline std::int64_t StreamGetFilePosition(HSTREAM s, DWORD mode) {
  return static_cast<std::int64_t>(Audio().BASS_StreamGetFilePosition(s, mode));
}
inline bool ChannelGetLevelEx(HSTREAM s, float* level) {
  return Audio().BASS_ChannelGetLevelEx(s, level, 0.02f, BASS_LEVEL_MONO) != FALSE;
}
inline std::int64_t ChannelGetPosition(HSTREAM s) {
  return static_cast<std::int64_t>(Audio().BASS_ChannelGetPosition(s, BASS_POS_BYTE));
}
inline std::int64_t ChannelGetLength(HSTREAM s) {
  return static_cast<std::int64_t>(Audio().BASS_ChannelGetLength(s, BASS_POS_BYTE));
}
inline bool ChannelGetAttribute(HSTREAM s, DWORD attribute, float* value) {
  return Audio().BASS_ChannelGetAttribute(s, attribute, value) != FALSE;
}
inline double ChannelBytes2Seconds(HSTREAM s, std::int64_t bytes) {
  return Audio().BASS_ChannelBytes2Seconds(s, static_cast<QWORD>(bytes));
}
inline bool ChannelSetAttribute(HSTREAM s, DWORD attribute, float value) {
  return Audio().BASS_ChannelSetAttribute(s, attribute, value) != FALSE;
}
inline bool ChannelRestart(HSTREAM s) {
  return Audio().BASS_ChannelSetPosition(s, 0, BASS_POS_BYTE | BASS_POS_SCAN) != FALSE;
}
}  // namespace audio
