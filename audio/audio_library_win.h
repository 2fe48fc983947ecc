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
