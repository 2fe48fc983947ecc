#include "audio/audio_library_win.h"

#include <cstdio>

#include "app/paths.h"
#include "platform/entry_binder_win.h"

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
  // In the table's order; the first name missing fails the binding at once.
  EntryBinder bind(a.library);
  bind(a.BASS_Init, "BASS_Init");
  bind(a.BASS_Free, "BASS_Free");
  bind(a.BASS_StreamCreateFile, "BASS_StreamCreateFile");
  bind(a.BASS_StreamCreateURL, "BASS_StreamCreateURL");
  bind(a.BASS_StreamFree, "BASS_StreamFree");
  bind(a.BASS_ChannelPlay, "BASS_ChannelPlay");
  bind(a.BASS_ChannelStop, "BASS_ChannelStop");
  bind(a.BASS_Stop, "BASS_Stop");
  bind(a.BASS_SetVolume, "BASS_SetVolume");
  bind(a.BASS_ErrorGetCode, "BASS_ErrorGetCode");
  bind(a.BASS_GetDeviceInfo, "BASS_GetDeviceInfo");
  bind(a.BASS_GetDevice, "BASS_GetDevice");
  bind(a.BASS_StreamGetFilePosition, "BASS_StreamGetFilePosition");
  bind(a.BASS_GetInfo, "BASS_GetInfo");
  bind(a.BASS_ChannelGetInfo, "BASS_ChannelGetInfo");
  bind(a.BASS_ChannelGetData, "BASS_ChannelGetData");
  bind(a.BASS_ChannelGetLevel, "BASS_ChannelGetLevel");
  bind(a.BASS_ChannelGetLevelEx, "BASS_ChannelGetLevelEx");
  bind(a.BASS_ChannelGetPosition, "BASS_ChannelGetPosition");
  bind(a.BASS_ChannelPause, "BASS_ChannelPause");
  bind(a.BASS_ChannelGetLength, "BASS_ChannelGetLength");
  bind(a.BASS_ChannelGetTags, "BASS_ChannelGetTags");
  bind(a.BASS_ChannelGetAttribute, "BASS_ChannelGetAttribute");
  bind(a.BASS_ChannelBytes2Seconds, "BASS_ChannelBytes2Seconds");
  bind(a.BASS_ChannelSetAttribute, "BASS_ChannelSetAttribute");
  bind(a.BASS_ChannelSetPosition, "BASS_ChannelSetPosition");
  bind(a.BASS_MusicLoad, "BASS_MusicLoad");
  bind(a.BASS_MusicFree, "BASS_MusicFree");
  return bind.Complete();
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
