// The 28 entry points of the audio library's published interface, exported undecorated
// (see bass.def). Streams live in a handle table; each call finds its stream, drops the
// table's lock and acts on the stream, whose own lock keeps it consistent. No exception
// leaves an entry point: the caller may be any program, written in any language.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <map>
#include <new>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/bass_api.h"
#include "platform/owners_win.h"
#include "platform/utf16_win.h"
#include "standins/bass/stream_win.h"
#include "standins/bass/tls_warmup_win.h"

namespace {

thread_local int lastError = BASS_OK;

struct Library {
  std::mutex mutex;
  bool initialised = false;
  DWORD device = 0;  // 0: no sound, 1: the default output
  DWORD frequency = 44100;
  DWORD flags = 0;
  std::map<DWORD, std::shared_ptr<Stream>> streams;
  DWORD nextHandle = 0x80000001;
};

// Never destroyed: a program that unloads the library without BASS_Free would otherwise
// have its streams torn down under the loader lock, where their threads cannot end. Those
// threads keep the library loaded instead (module_thread_win.h).
Library& Lib() {
  static Library* library = new Library;
  return *library;
}

template <typename T>
T Fail(int code, T result) {
  lastError = code;
  return result;
}

template <typename T>
T Succeed(T result) {
  lastError = BASS_OK;
  return result;
}

// Runs an entry point's body; an exception becomes the documented error and `failure`.
template <typename T, typename Body>
T Guarded(T failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Fail(BASS_ERROR_MEM, failure);
  } catch (...) {
    return Fail(BASS_ERROR_UNKNOWN, failure);
  }
}

bool Initialised() {
  std::lock_guard lock(Lib().mutex);
  return Lib().initialised;
}

std::shared_ptr<Stream> Find(DWORD handle) {
  std::lock_guard lock(Lib().mutex);
  auto it = Lib().streams.find(handle);
  if (it == Lib().streams.end()) return nullptr;
  return it->second;
}

// An entry point's body that acts on one stream: the stream behind `handle`, or
// BASS_ERROR_HANDLE. The body sets `error` when the call fails; the entry then gives
// `failure`, and otherwise what the body gave.
template <typename T, typename Body>
T OnStream(DWORD handle, T failure, Body&& body) noexcept {
  return Guarded<T>(failure, [&]() -> T {
    std::shared_ptr<Stream> stream = Find(handle);
    if (!stream) return Fail(BASS_ERROR_HANDLE, failure);
    int error = BASS_OK;
    const T result = body(*stream, error);
    if (error != BASS_OK) return Fail(error, failure);
    return Succeed(result);
  });
}

StreamSettings SettingsForNewStream() {
  StreamSettings settings;
  {
    std::lock_guard lock(Lib().mutex);
    settings.silent = Lib().device == 0;
  }
  ApplyTestSwitches(settings);
  return settings;
}

HSTREAM Register(std::shared_ptr<Stream> stream) {
  std::lock_guard lock(Lib().mutex);
  const DWORD handle = Lib().nextHandle++;
  Lib().streams[handle] = std::move(stream);
  return handle;
}

bool ReadWholeFile(const wchar_t* path, std::uint64_t offset, std::uint64_t length,
                   std::vector<std::uint8_t>& bytes) {
  FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file.get(), &size) && std::uint64_t(size.QuadPart) >= offset;
  if (ok) {
    std::uint64_t available = std::uint64_t(size.QuadPart) - offset;
    std::uint64_t take = length == 0 ? available : std::min(length, available);
    LARGE_INTEGER at{};
    at.QuadPart = LONGLONG(offset);
    ok = take < (std::uint64_t(1) << 31) && SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN);
    if (ok) {
      bytes.resize(std::size_t(take));
      DWORD read = 0;
      ok = ReadFile(file.get(), bytes.data(), DWORD(take), &read, nullptr) && read == take;
    }
  }
  return ok;
}

}  // namespace

extern "C" {

// A program loads the library to play from the network soon after. The first secure
// connection of a process pays for loading the certificate store and the chain engine,
// so that work starts now, on a thread of its own, while the program does other things.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) StartTlsWarmUp();
  return TRUE;
}

BOOL WINAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND, const void*) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    std::lock_guard lock(Lib().mutex);
    if (Lib().initialised) return Fail(BASS_ERROR_ALREADY, FALSE);
    // -1 and 1 are the default output; 0 is the "no sound" device. Where no output device
    // opens, streams still play, against a silent real-time clock.
    if (device < -1 || device > 1) return Fail(BASS_ERROR_DEVICE, FALSE);
    Lib().device = device == 0 ? 0 : 1;
    Lib().frequency = freq;
    Lib().flags = flags;
    Lib().initialised = true;
    return Succeed(TRUE);
  });
}

BOOL WINAPI BASS_Free() {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    std::map<DWORD, std::shared_ptr<Stream>> streams;
    {
      std::lock_guard lock(Lib().mutex);
      if (!Lib().initialised) return Fail(BASS_ERROR_INIT, FALSE);
      streams.swap(Lib().streams);
      Lib().initialised = false;
    }
    for (auto& [handle, stream] : streams) stream->Shutdown();
    return Succeed(TRUE);
  });
}

HSTREAM WINAPI BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length,
                                     DWORD flags) {
  return Guarded<HSTREAM>(0, [&]() -> HSTREAM {
    if (!Initialised()) return Fail(BASS_ERROR_INIT, HSTREAM(0));
    if (file == nullptr) return Fail(BASS_ERROR_FILEOPEN, HSTREAM(0));
    std::vector<std::uint8_t> bytes;
    const std::uint8_t* start = nullptr;
    std::size_t count = 0;
    std::string name;
    if (mem) {
      if (length == 0) return Fail(BASS_ERROR_ILLPARAM, HSTREAM(0));
      start = static_cast<const std::uint8_t*>(file) + offset;
      count = std::size_t(length);
    } else {
      std::wstring path;
      path = (flags & BASS_UNICODE) ? std::wstring(static_cast<const wchar_t*>(file))
                                    : Widen(static_cast<const char*>(file));
      if (!ReadWholeFile(path.c_str(), offset, length, bytes)) {
        return Fail(BASS_ERROR_FILEOPEN, HSTREAM(0));
      }
      start = bytes.data();
      count = bytes.size();
      name = Narrow(path);
    }
    int error = BASS_OK;
    auto stream = Stream::OpenBytes(start, count, name, SettingsForNewStream(), &error);
    if (!stream) return Fail(error, HSTREAM(0));
    return Succeed(Register(std::move(stream)));
  });
}

HSTREAM WINAPI BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc,
                                    void* user) {
  return Guarded<HSTREAM>(0, [&]() -> HSTREAM {
    if (!Initialised()) return Fail(BASS_ERROR_INIT, HSTREAM(0));
    if (url == nullptr) return Fail(BASS_ERROR_FILEOPEN, HSTREAM(0));
    std::string address =
        (flags & BASS_UNICODE) ? Narrow(reinterpret_cast<const wchar_t*>(url)) : std::string(url);
    int error = BASS_OK;
    auto stream = Stream::OpenUrl(address, offset, proc, user, SettingsForNewStream(), &error);
    if (!stream) return Fail(error, HSTREAM(0));
    return Succeed(Register(std::move(stream)));
  });
}

BOOL WINAPI BASS_StreamFree(HSTREAM handle) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    std::shared_ptr<Stream> stream;
    {
      std::lock_guard lock(Lib().mutex);
      auto it = Lib().streams.find(handle);
      if (it == Lib().streams.end()) return Fail(BASS_ERROR_HANDLE, FALSE);
      stream = std::move(it->second);
      Lib().streams.erase(it);
    }
    stream->Shutdown();
    return Succeed(TRUE);
  });
}

BOOL WINAPI BASS_ChannelPlay(DWORD handle, BOOL restart) {
  return OnStream<BOOL>(handle, FALSE, [&](Stream& stream, int&) {
    stream.Play(restart != FALSE);
    return TRUE;
  });
}

BOOL WINAPI BASS_ChannelStop(DWORD handle) {
  return OnStream<BOOL>(handle, FALSE, [](Stream& stream, int&) {
    stream.Stop();
    return TRUE;
  });
}

BOOL WINAPI BASS_Stop() {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    std::vector<std::shared_ptr<Stream>> streams;
    {
      std::lock_guard lock(Lib().mutex);
      if (!Lib().initialised) return Fail(BASS_ERROR_INIT, FALSE);
      for (auto& [handle, stream] : Lib().streams) streams.push_back(stream);
    }
    // Every playing stream is paused; BASS_ChannelPlay resumes each.
    int ignored = BASS_OK;
    for (auto& stream : streams) stream->Pause(&ignored);
    return Succeed(TRUE);
  });
}

BOOL WINAPI BASS_SetVolume(float volume) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    if (!Initialised()) return Fail(BASS_ERROR_INIT, FALSE);
    // Written so that NaN fails too.
    if (!(volume >= 0.0f && volume <= 1.0f)) return Fail(BASS_ERROR_ILLPARAM, FALSE);
    OutputVolume() = volume;
    return Succeed(TRUE);
  });
}

int WINAPI BASS_ErrorGetCode() { return lastError; }

BOOL WINAPI BASS_GetDeviceInfo(DWORD device, BASS_DEVICEINFO* info) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    if (info == nullptr) return Fail(BASS_ERROR_ILLPARAM, FALSE);
    if (device > 1) return Fail(BASS_ERROR_DEVICE, FALSE);
    bool initialised = false;
    DWORD current = 0;
    {
      std::lock_guard lock(Lib().mutex);
      initialised = Lib().initialised;
      current = Lib().device;
    }
    if (device == 0) {
      info->name = "No sound";
      info->driver = "";
      info->flags = BASS_DEVICE_ENABLED;
    } else {
      info->name = waveOutGetNumDevs() > 0 ? "Default" : "Default (no output device: silent clock)";
      info->driver = "";
      info->flags = BASS_DEVICE_ENABLED | BASS_DEVICE_DEFAULT;
    }
    if (initialised && current == device) info->flags |= BASS_DEVICE_INIT;
    return Succeed(TRUE);
  });
}

DWORD WINAPI BASS_GetDevice() {
  return Guarded<DWORD>(DWORD(-1), [&]() -> DWORD {
    std::lock_guard lock(Lib().mutex);
    if (!Lib().initialised) return Fail(BASS_ERROR_INIT, DWORD(-1));
    return Succeed(Lib().device);
  });
}

QWORD WINAPI BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
  return OnStream<QWORD>(handle, QWORD(-1), [&](Stream& stream, int& error) {
    return QWORD(stream.FilePosition(mode, &error));
  });
}

BOOL WINAPI BASS_GetInfo(BASS_INFO* info) {
  return Guarded<BOOL>(FALSE, [&]() -> BOOL {
    if (info == nullptr) return Fail(BASS_ERROR_ILLPARAM, FALSE);
    std::lock_guard lock(Lib().mutex);
    if (!Lib().initialised) return Fail(BASS_ERROR_INIT, FALSE);
    *info = BASS_INFO{};
    info->initflags = Lib().flags;
    info->speakers = 2;
    info->freq = Lib().frequency;
    info->minbuf = 100;                           // one device buffer
    info->latency = Lib().device == 0 ? 0 : 400;  // the device queue
    return Succeed(TRUE);
  });
}

BOOL WINAPI BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
  return OnStream<BOOL>(handle, FALSE, [&](Stream& stream, int& error) {
    if (info == nullptr) error = BASS_ERROR_ILLPARAM;
    else stream.Info(info);
    return TRUE;
  });
}

DWORD WINAPI BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
  return OnStream<DWORD>(handle, DWORD(-1), [&](Stream& stream, int& error) {
    return stream.Data(buffer, length, &error);
  });
}

DWORD WINAPI BASS_ChannelGetLevel(DWORD handle) {
  return OnStream<DWORD>(handle, DWORD(-1), [](Stream& stream, int& error) {
    return stream.LevelWord(&error);
  });
}

BOOL WINAPI BASS_ChannelGetLevelEx(DWORD handle, float* levels, float length, DWORD flags) {
  return OnStream<BOOL>(handle, FALSE, [&](Stream& stream, int& error) {
    if (levels == nullptr) error = BASS_ERROR_ILLPARAM;
    else stream.Level(levels, length, flags, &error);
    return TRUE;
  });
}

QWORD WINAPI BASS_ChannelGetPosition(DWORD handle, DWORD mode) {
  return OnStream<QWORD>(handle, QWORD(-1), [&](Stream& stream, int& error) {
    if ((mode & ~BASS_POS_DECODE) != BASS_POS_BYTE) error = BASS_ERROR_NOTAVAIL;
    return error != BASS_OK ? QWORD(-1) : QWORD(stream.Position((mode & BASS_POS_DECODE) != 0));
  });
}

BOOL WINAPI BASS_ChannelPause(DWORD handle) {
  return OnStream<BOOL>(handle, FALSE, [](Stream& stream, int& error) {
    return BOOL(stream.Pause(&error));
  });
}

QWORD WINAPI BASS_ChannelGetLength(DWORD handle, DWORD mode) {
  return OnStream<QWORD>(handle, QWORD(-1), [&](Stream& stream, int& error) {
    const std::int64_t length = mode == BASS_POS_BYTE ? stream.Length() : -1;
    if (length < 0) error = BASS_ERROR_NOTAVAIL;
    return QWORD(length);
  });
}

const char* WINAPI BASS_ChannelGetTags(DWORD handle, DWORD tags) {
  return OnStream<const char*>(handle, nullptr, [&](Stream& stream, int& error) {
    return stream.Tags(tags, &error);
  });
}

BOOL WINAPI BASS_ChannelGetAttribute(DWORD handle, DWORD attrib, float* value) {
  return OnStream<BOOL>(handle, FALSE, [&](Stream& stream, int& error) {
    if (value == nullptr) {
      error = BASS_ERROR_ILLPARAM;
      return FALSE;
    }
    BASS_CHANNELINFO info{};
    switch (attrib) {
      case BASS_ATTRIB_VOL:
        *value = stream.Volume();
        break;
      case BASS_ATTRIB_BITRATE:
        *value = stream.Bitrate();
        break;
      case BASS_ATTRIB_FREQ:
        stream.Info(&info);
        *value = float(info.freq);
        break;
      case BASS_ATTRIB_PAN:
        *value = 0.0f;
        break;
      default:
        error = BASS_ERROR_ILLTYPE;
    }
    return TRUE;
  });
}

double WINAPI BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
  return OnStream<double>(handle, -1.0, [&](Stream& stream, int&) {
    return stream.BytesToSeconds(std::int64_t(pos));
  });
}

BOOL WINAPI BASS_ChannelSetAttribute(DWORD handle, DWORD attrib, float value) {
  return OnStream<BOOL>(handle, FALSE, [&](Stream& stream, int& error) {
    // Only the volume can be changed: rate and pan changes are not offered.
    if (attrib != BASS_ATTRIB_VOL) error = BASS_ERROR_ILLTYPE;
    // NaN or infinity would turn every sample into noise.
    else if (!std::isfinite(value)) error = BASS_ERROR_ILLPARAM;
    else stream.SetVolume(value);
    return TRUE;
  });
}

BOOL WINAPI BASS_ChannelSetPosition(DWORD handle, QWORD pos, DWORD mode) {
  return OnStream<BOOL>(handle, FALSE, [&](Stream& stream, int& error) {
    // Only byte positions; the scan and other flags in the upper bits change nothing here,
    // since the whole file is kept and frames are found by walking their headers.
    if ((mode & 0xFFFF) != BASS_POS_BYTE) error = BASS_ERROR_NOTAVAIL;
    else stream.SetPosition(std::int64_t(pos), &error);
    return TRUE;
  });
}

HMUSIC WINAPI BASS_MusicLoad(BOOL, const void*, QWORD, DWORD, DWORD, DWORD) {
  return Guarded<HMUSIC>(0, [&]() -> HMUSIC {
    if (!Initialised()) return Fail(BASS_ERROR_INIT, HMUSIC(0));
    // Tracker modules are not played by this library.
    return Fail(BASS_ERROR_FILEFORM, HMUSIC(0));
  });
}

BOOL WINAPI BASS_MusicFree(HMUSIC) { return Fail(BASS_ERROR_HANDLE, FALSE); }

}  // extern "C"
