#pragma once
// Our own declarations of the audio library's published interface: the types, constants
// and the 28 entry points the players bind. Shared by the binding and by our Bass.dll.
#include <windows.h>

#include <cstdint>

using QWORD = std::uint64_t;
using HSTREAM = DWORD;
using HMUSIC = DWORD;
typedef void(CALLBACK DOWNLOADPROC)(const void* buffer, DWORD length, void* user);

struct BASS_DEVICEINFO {
  const char* name;
  const char* driver;
  DWORD flags;
};

struct BASS_INFO {
  DWORD flags, hwsize, hwfree, freesam, free3d, minrate, maxrate;
  BOOL eax;
  DWORD minbuf, dsver, latency, initflags, speakers, freq;
};

struct BASS_CHANNELINFO {
  DWORD freq, chans, flags, ctype, origres;
  DWORD plugin;
  DWORD sample;
  const char* filename;
};

// Position modes and flags.
inline constexpr DWORD BASS_POS_BYTE = 0;
inline constexpr DWORD BASS_POS_SCAN = 0x40000000;
inline constexpr DWORD BASS_FILEPOS_CURRENT = 0;
inline constexpr DWORD BASS_FILEPOS_DOWNLOAD = 1;
inline constexpr DWORD BASS_FILEPOS_END = 2;
inline constexpr DWORD BASS_FILEPOS_START = 3;
inline constexpr DWORD BASS_FILEPOS_CONNECTED = 4;
inline constexpr DWORD BASS_FILEPOS_BUFFER = 5;
inline constexpr DWORD BASS_FILEPOS_SIZE = 8;
inline constexpr DWORD BASS_POS_DECODE = 0x10000000;
// Stream creation flags.
inline constexpr DWORD BASS_UNICODE = 0x80000000;
// Device information flags.
inline constexpr DWORD BASS_DEVICE_ENABLED = 1;
inline constexpr DWORD BASS_DEVICE_DEFAULT = 2;
inline constexpr DWORD BASS_DEVICE_INIT = 4;
// Sample data requests (BASS_ChannelGetData).
inline constexpr DWORD BASS_DATA_AVAILABLE = 0;
inline constexpr DWORD BASS_DATA_FIXED = 0x20000000;
inline constexpr DWORD BASS_DATA_FLOAT = 0x40000000;
inline constexpr DWORD BASS_DATA_FFT256 = 0x80000000;
// Tag types (BASS_ChannelGetTags).
inline constexpr DWORD BASS_TAG_ID3 = 0;
inline constexpr DWORD BASS_TAG_ID3V2 = 1;
inline constexpr DWORD BASS_TAG_HTTP = 3;
// Attributes.
inline constexpr DWORD BASS_ATTRIB_FREQ = 1;
inline constexpr DWORD BASS_ATTRIB_VOL = 2;
inline constexpr DWORD BASS_ATTRIB_PAN = 3;
inline constexpr DWORD BASS_ATTRIB_BITRATE = 12;
// Level flags.
inline constexpr DWORD BASS_LEVEL_MONO = 1;
inline constexpr DWORD BASS_LEVEL_STEREO = 2;
inline constexpr DWORD BASS_LEVEL_RMS = 4;
inline constexpr DWORD BASS_LEVEL_VOLPAN = 8;
// Channel states and types.
inline constexpr DWORD BASS_ACTIVE_STOPPED = 0;
inline constexpr DWORD BASS_ACTIVE_PLAYING = 1;
inline constexpr DWORD BASS_ACTIVE_STALLED = 2;
inline constexpr DWORD BASS_ACTIVE_PAUSED = 3;
inline constexpr DWORD BASS_CTYPE_STREAM_MP3 = 0x10005;
// Error codes (BASS_ErrorGetCode).
inline constexpr int BASS_OK = 0;
inline constexpr int BASS_ERROR_MEM = 1;
inline constexpr int BASS_ERROR_FILEOPEN = 2;
inline constexpr int BASS_ERROR_DRIVER = 3;
inline constexpr int BASS_ERROR_HANDLE = 5;
inline constexpr int BASS_ERROR_FORMAT = 6;
inline constexpr int BASS_ERROR_POSITION = 7;
inline constexpr int BASS_ERROR_INIT = 8;
inline constexpr int BASS_ERROR_START = 9;
inline constexpr int BASS_ERROR_ALREADY = 14;
inline constexpr int BASS_ERROR_NOTAUDIO = 17;
inline constexpr int BASS_ERROR_NOCHAN = 18;
inline constexpr int BASS_ERROR_ILLTYPE = 19;
inline constexpr int BASS_ERROR_ILLPARAM = 20;
inline constexpr int BASS_ERROR_DEVICE = 23;
inline constexpr int BASS_ERROR_NOPLAY = 24;
inline constexpr int BASS_ERROR_NOTAVAIL = 37;
inline constexpr int BASS_ERROR_DECODE = 38;
inline constexpr int BASS_ERROR_TIMEOUT = 40;
inline constexpr int BASS_ERROR_FILEFORM = 41;
inline constexpr int BASS_ERROR_SPEAKER = 42;
inline constexpr int BASS_ERROR_CODEC = 44;
inline constexpr int BASS_ERROR_ENDED = 45;
inline constexpr int BASS_ERROR_BUSY = 46;
inline constexpr int BASS_ERROR_UNKNOWN = -1;

// The entry points, as function types.
namespace bass {
using Init = BOOL WINAPI(int device, DWORD freq, DWORD flags, HWND win, const void* dsguid);
using Free = BOOL WINAPI();
using StreamCreateFile = HSTREAM WINAPI(BOOL mem, const void* file, QWORD offset, QWORD length,
                                        DWORD flags);
using StreamCreateURL = HSTREAM WINAPI(const char* url, DWORD offset, DWORD flags,
                                       DOWNLOADPROC* proc, void* user);
using StreamFree = BOOL WINAPI(HSTREAM handle);
using ChannelPlay = BOOL WINAPI(DWORD handle, BOOL restart);
using ChannelStop = BOOL WINAPI(DWORD handle);
using Stop = BOOL WINAPI();
using SetVolume = BOOL WINAPI(float volume);
using ErrorGetCode = int WINAPI();
using GetDeviceInfo = BOOL WINAPI(DWORD device, BASS_DEVICEINFO* info);
using GetDevice = DWORD WINAPI();
using StreamGetFilePosition = QWORD WINAPI(HSTREAM handle, DWORD mode);
using GetInfo = BOOL WINAPI(BASS_INFO* info);
using ChannelGetInfo = BOOL WINAPI(DWORD handle, BASS_CHANNELINFO* info);
using ChannelGetData = DWORD WINAPI(DWORD handle, void* buffer, DWORD length);
using ChannelGetLevel = DWORD WINAPI(DWORD handle);
using ChannelGetLevelEx = BOOL WINAPI(DWORD handle, float* levels, float length, DWORD flags);
using ChannelGetPosition = QWORD WINAPI(DWORD handle, DWORD mode);
using ChannelPause = BOOL WINAPI(DWORD handle);
using ChannelGetLength = QWORD WINAPI(DWORD handle, DWORD mode);
using ChannelGetTags = const char* WINAPI(DWORD handle, DWORD tags);
using ChannelGetAttribute = BOOL WINAPI(DWORD handle, DWORD attrib, float* value);
using ChannelBytes2Seconds = double WINAPI(DWORD handle, QWORD pos);
using ChannelSetAttribute = BOOL WINAPI(DWORD handle, DWORD attrib, float value);
using ChannelSetPosition = BOOL WINAPI(DWORD handle, QWORD pos, DWORD mode);
using MusicLoad = HMUSIC WINAPI(BOOL mem, const void* file, QWORD offset, DWORD length,
                                DWORD flags, DWORD freq);
using MusicFree = BOOL WINAPI(HMUSIC handle);
}  // namespace bass
