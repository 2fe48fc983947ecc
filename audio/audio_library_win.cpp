#include "audio/audio_library_win.h"

#include <cstdio>

#include "app/paths.h"

namespace {

template <typename Entry>
bool Resolve(HMODULE library, Entry*& slot, const char* name) {
  slot = library == nullptr
             ? nullptr
             : reinterpret_cast<Entry*>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return slot != nullptr;
}

}  // namespace

AudioLibrary& Audio() {
  static AudioLibrary binding;
  return binding;
}

bool LoadAudioLibrary(const std::string& programDirectory) {
  const std::string path = programDirectory + "\\Bass.dll";
  // Only a file that can be opened is worth a load attempt.
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);

  AudioLibrary& a = Audio();
  a.library = LoadLibraryA(path.c_str());
  HMODULE m = a.library;
  return Resolve(m, a.BASS_Init, "BASS_Init") && Resolve(m, a.BASS_Free, "BASS_Free") &&
         Resolve(m, a.BASS_StreamCreateFile, "BASS_StreamCreateFile") &&
         Resolve(m, a.BASS_StreamCreateURL, "BASS_StreamCreateURL") &&
         Resolve(m, a.BASS_StreamFree, "BASS_StreamFree") &&
         Resolve(m, a.BASS_ChannelPlay, "BASS_ChannelPlay") &&
         Resolve(m, a.BASS_ChannelStop, "BASS_ChannelStop") &&
         Resolve(m, a.BASS_Stop, "BASS_Stop") && Resolve(m, a.BASS_SetVolume, "BASS_SetVolume") &&
         Resolve(m, a.BASS_ErrorGetCode, "BASS_ErrorGetCode") &&
         Resolve(m, a.BASS_GetDeviceInfo, "BASS_GetDeviceInfo") &&
         Resolve(m, a.BASS_GetDevice, "BASS_GetDevice") &&
         Resolve(m, a.BASS_StreamGetFilePosition, "BASS_StreamGetFilePosition") &&
         Resolve(m, a.BASS_GetInfo, "BASS_GetInfo") &&
         Resolve(m, a.BASS_ChannelGetInfo, "BASS_ChannelGetInfo") &&
         Resolve(m, a.BASS_ChannelGetData, "BASS_ChannelGetData") &&
         Resolve(m, a.BASS_ChannelGetLevel, "BASS_ChannelGetLevel") &&
         Resolve(m, a.BASS_ChannelGetLevelEx, "BASS_ChannelGetLevelEx") &&
         Resolve(m, a.BASS_ChannelGetPosition, "BASS_ChannelGetPosition") &&
         Resolve(m, a.BASS_ChannelPause, "BASS_ChannelPause") &&
         Resolve(m, a.BASS_ChannelGetLength, "BASS_ChannelGetLength") &&
         Resolve(m, a.BASS_ChannelGetTags, "BASS_ChannelGetTags") &&
         Resolve(m, a.BASS_ChannelGetAttribute, "BASS_ChannelGetAttribute") &&
         Resolve(m, a.BASS_ChannelBytes2Seconds, "BASS_ChannelBytes2Seconds") &&
         Resolve(m, a.BASS_ChannelSetAttribute, "BASS_ChannelSetAttribute") &&
         Resolve(m, a.BASS_ChannelSetPosition, "BASS_ChannelSetPosition") &&
         Resolve(m, a.BASS_MusicLoad, "BASS_MusicLoad") &&
         Resolve(m, a.BASS_MusicFree, "BASS_MusicFree");
}

bool UnloadAudioLibrary() {
  AudioLibrary& a = Audio();
  if (a.library == nullptr) return false;
  FreeLibrary(a.library);
  a.library = nullptr;
  return true;
}

std::string ProgramDirectory() {
  char path[MAX_PATH * 2] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  return DirectoryOf(std::string(path, length));
}
