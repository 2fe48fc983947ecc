// Drives Bass.dll for the stream tests: reads one command per line from standard input
// and answers each with one JSON line on standard output. The library is bound at run time
// by name, as the players bind it.
//   bass_probe.exe <path of Bass.dll>
// Commands: init [device] | open <url> | openfile <path> | facts | play [0|1] | pause |
// stop | volume <v> | seek <bytes> | state | level <seconds> <flags> | wait <ms> |
// waitend <ms> | free | handles | cycles <n> <url> | tags | quit
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "audio/bass_api.h"

namespace {

struct Api {
  bass::Init* Init;
  bass::Free* Free;
  bass::StreamCreateURL* StreamCreateURL;
  bass::StreamCreateFile* StreamCreateFile;
  bass::StreamFree* StreamFree;
  bass::ChannelPlay* ChannelPlay;
  bass::ChannelStop* ChannelStop;
  bass::ChannelPause* ChannelPause;
  bass::ErrorGetCode* ErrorGetCode;
  bass::StreamGetFilePosition* StreamGetFilePosition;
  bass::ChannelGetLevelEx* ChannelGetLevelEx;
  bass::ChannelGetPosition* ChannelGetPosition;
  bass::ChannelGetLength* ChannelGetLength;
  bass::ChannelGetAttribute* ChannelGetAttribute;
  bass::ChannelSetAttribute* ChannelSetAttribute;
  bass::ChannelSetPosition* ChannelSetPosition;
  bass::ChannelBytes2Seconds* ChannelBytes2Seconds;
  bass::ChannelGetTags* ChannelGetTags;
};

template <typename Entry>
void Bind(HMODULE library, Entry*& slot, const char* name) {
  slot = reinterpret_cast<Entry*>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (slot == nullptr) {
    std::printf("{\"event\":\"missing\",\"name\":\"%s\"}\n", name);
    std::exit(3);
  }
}

double Millis(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since).count();
}

long long Signed(QWORD value) { return static_cast<long long>(value); }

void PrintState(const Api& api, DWORD h) {
  float level = 0;
  BOOL levelOk = api.ChannelGetLevelEx(h, &level, 0.02f, BASS_LEVEL_MONO);
  std::printf(
      "{\"event\":\"state\",\"position\":%lld,\"current\":%lld,\"download\":%lld,\"length\":%lld,"
      "\"size\":%lld,\"start\":%lld,\"level\":%.6f,\"level_ok\":%d,\"t\":%lld}\n",
      Signed(api.ChannelGetPosition(h, BASS_POS_BYTE)),
      Signed(api.StreamGetFilePosition(h, BASS_FILEPOS_CURRENT)),
      Signed(api.StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD)),
      Signed(api.ChannelGetLength(h, BASS_POS_BYTE)),
      Signed(api.StreamGetFilePosition(h, BASS_FILEPOS_SIZE)),
      Signed(api.StreamGetFilePosition(h, BASS_FILEPOS_START)), level, levelOk ? 1 : 0,
      static_cast<long long>(GetTickCount64()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HMODULE library = LoadLibraryA(argv[1]);
  if (library == nullptr) {
    std::printf("{\"event\":\"load_failed\",\"error\":%lu}\n", GetLastError());
    return 2;
  }
  Api api{};
  Bind(library, api.Init, "BASS_Init");
  Bind(library, api.Free, "BASS_Free");
  Bind(library, api.StreamCreateURL, "BASS_StreamCreateURL");
  Bind(library, api.StreamCreateFile, "BASS_StreamCreateFile");
  Bind(library, api.StreamFree, "BASS_StreamFree");
  Bind(library, api.ChannelPlay, "BASS_ChannelPlay");
  Bind(library, api.ChannelStop, "BASS_ChannelStop");
  Bind(library, api.ChannelPause, "BASS_ChannelPause");
  Bind(library, api.ErrorGetCode, "BASS_ErrorGetCode");
  Bind(library, api.StreamGetFilePosition, "BASS_StreamGetFilePosition");
  Bind(library, api.ChannelGetLevelEx, "BASS_ChannelGetLevelEx");
  Bind(library, api.ChannelGetPosition, "BASS_ChannelGetPosition");
  Bind(library, api.ChannelGetLength, "BASS_ChannelGetLength");
  Bind(library, api.ChannelGetAttribute, "BASS_ChannelGetAttribute");
  Bind(library, api.ChannelSetAttribute, "BASS_ChannelSetAttribute");
  Bind(library, api.ChannelSetPosition, "BASS_ChannelSetPosition");
  Bind(library, api.ChannelBytes2Seconds, "BASS_ChannelBytes2Seconds");
  Bind(library, api.ChannelGetTags, "BASS_ChannelGetTags");
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::printf("{\"event\":\"ready\"}\n");

  HSTREAM h = 0;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command.empty()) continue;
    if (command == "quit") break;
    if (command == "init") {
      int device = -1;
      in >> device;
      BOOL ok = api.Init(device, 44100, 0, nullptr, nullptr);
      std::printf("{\"event\":\"init\",\"ok\":%d,\"error\":%d}\n", ok ? 1 : 0, api.ErrorGetCode());
    } else if (command == "open" || command == "openfile") {
      std::string target;
      std::getline(in >> std::ws, target);
      auto start = std::chrono::steady_clock::now();
      h = command == "open" ? api.StreamCreateURL(target.c_str(), 0, 0, nullptr, nullptr)
                            : api.StreamCreateFile(FALSE, target.c_str(), 0, 0, 0);
      std::printf("{\"event\":\"open\",\"handle\":%lu,\"error\":%d,\"ms\":%.1f}\n", h,
                  api.ErrorGetCode(), Millis(start));
    } else if (command == "facts") {
      QWORD length = api.ChannelGetLength(h, BASS_POS_BYTE);
      float bitrate = -1;
      api.ChannelGetAttribute(h, BASS_ATTRIB_BITRATE, &bitrate);
      std::printf(
          "{\"event\":\"facts\",\"length\":%lld,\"size\":%lld,\"start\":%lld,\"bitrate\":%.4f,"
          "\"seconds\":%.6f}\n",
          Signed(length), Signed(api.StreamGetFilePosition(h, BASS_FILEPOS_SIZE)),
          Signed(api.StreamGetFilePosition(h, BASS_FILEPOS_START)), bitrate,
          api.ChannelBytes2Seconds(h, length));
    } else if (command == "play") {
      int restart = 1;
      in >> restart;
      BOOL ok = api.ChannelPlay(h, restart);
      std::printf("{\"event\":\"play\",\"ok\":%d,\"t\":%lld}\n", ok ? 1 : 0,
                  static_cast<long long>(GetTickCount64()));
    } else if (command == "pause") {
      BOOL ok = api.ChannelPause(h);
      std::printf("{\"event\":\"pause\",\"ok\":%d,\"error\":%d}\n", ok ? 1 : 0, api.ErrorGetCode());
    } else if (command == "stop") {
      BOOL ok = api.ChannelStop(h);
      std::printf("{\"event\":\"stop\",\"ok\":%d}\n", ok ? 1 : 0);
    } else if (command == "volume") {
      float volume = 1;
      in >> volume;
      BOOL ok = api.ChannelSetAttribute(h, BASS_ATTRIB_VOL, volume);
      std::printf("{\"event\":\"volume\",\"ok\":%d}\n", ok ? 1 : 0);
    } else if (command == "seek") {
      long long bytes = 0;
      in >> bytes;
      BOOL ok = api.ChannelSetPosition(h, QWORD(bytes), BASS_POS_BYTE | BASS_POS_SCAN);
      std::printf("{\"event\":\"seek\",\"ok\":%d,\"error\":%d}\n", ok ? 1 : 0, api.ErrorGetCode());
    } else if (command == "state") {
      PrintState(api, h);
    } else if (command == "level") {
      float seconds = 0.02f;
      DWORD flags = BASS_LEVEL_MONO;
      in >> seconds >> flags;
      float levels[8] = {};
      BOOL ok = api.ChannelGetLevelEx(h, levels, seconds, flags);
      std::printf("{\"event\":\"level\",\"ok\":%d,\"error\":%d,\"levels\":[%.6f,%.6f]}\n",
                  ok ? 1 : 0, api.ErrorGetCode(), levels[0], levels[1]);
    } else if (command == "wait") {
      int ms = 0;
      in >> ms;
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      std::printf("{\"event\":\"waited\"}\n");
    } else if (command == "waitend") {
      // The players' end-of-song test, polled as their loop does.
      int ms = 0;
      in >> ms;
      auto start = std::chrono::steady_clock::now();
      long long size = Signed(api.StreamGetFilePosition(h, BASS_FILEPOS_SIZE));
      long long audioStart = Signed(api.StreamGetFilePosition(h, BASS_FILEPOS_START));
      bool ended = false;
      while (Millis(start) < ms) {
        long long position = Signed(api.ChannelGetPosition(h, BASS_POS_BYTE));
        long long length = Signed(api.ChannelGetLength(h, BASS_POS_BYTE));
        long long current = Signed(api.StreamGetFilePosition(h, BASS_FILEPOS_CURRENT));
        if (position >= length || size - audioStart - current <= 0) {
          ended = true;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
      }
      std::printf("{\"event\":\"waitend\",\"ended\":%d,\"ms\":%.1f}\n", ended ? 1 : 0, Millis(start));
      PrintState(api, h);
    } else if (command == "free") {
      auto start = std::chrono::steady_clock::now();
      BOOL ok = api.StreamFree(h);
      std::printf("{\"event\":\"free\",\"ok\":%d,\"ms\":%.2f}\n", ok ? 1 : 0, Millis(start));
      h = 0;
    } else if (command == "handles") {
      DWORD count = 0;
      GetProcessHandleCount(GetCurrentProcess(), &count);
      std::printf("{\"event\":\"handles\",\"count\":%lu}\n", count);
    } else if (command == "cycles") {
      int n = 0;
      std::string url;
      in >> n;
      std::getline(in >> std::ws, url);
      double slowestFree = 0;
      int opened = 0;
      for (int i = 0; i < n; ++i) {
        HSTREAM s = api.StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
        if (s != 0) ++opened;
        api.ChannelPlay(s, TRUE);
        auto start = std::chrono::steady_clock::now();
        api.StreamFree(s);
        slowestFree = std::max(slowestFree, Millis(start));
      }
      std::printf("{\"event\":\"cycles\",\"opened\":%d,\"slowest_free_ms\":%.2f}\n", opened,
                  slowestFree);
    } else if (command == "tags") {
      const char* http = api.ChannelGetTags(h, BASS_TAG_HTTP);
      int lines = 0;
      for (const char* p = http; p != nullptr && *p; p += std::strlen(p) + 1) ++lines;
      std::printf("{\"event\":\"tags\",\"http_lines\":%d,\"id3v2\":%d}\n", lines,
                  api.ChannelGetTags(h, BASS_TAG_ID3V2) != nullptr ? 1 : 0);
    } else if (command == "firstsample") {
      // Time from creation to the first played sample.
      std::string url;
      std::getline(in >> std::ws, url);
      auto start = std::chrono::steady_clock::now();
      h = api.StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr);
      double created = Millis(start);
      api.ChannelPlay(h, TRUE);
      while (h != 0 && Signed(api.ChannelGetPosition(h, BASS_POS_BYTE)) <= 0 && Millis(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      std::printf("{\"event\":\"firstsample\",\"created_ms\":%.2f,\"first_ms\":%.2f}\n", created,
                  Millis(start));
    } else if (command == "usage") {
      // CPU time of the whole process over a stretch of wall time, and its private memory.
      int ms = 0;
      in >> ms;
      FILETIME c, e, k0, u0, k1, u1;
      GetProcessTimes(GetCurrentProcess(), &c, &e, &k0, &u0);
      auto start = std::chrono::steady_clock::now();
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      GetProcessTimes(GetCurrentProcess(), &c, &e, &k1, &u1);
      auto ticks = [](FILETIME f) { return (ULONGLONG(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
      double cpuMs = double(ticks(k1) - ticks(k0) + ticks(u1) - ticks(u0)) / 10000.0;
      PROCESS_MEMORY_COUNTERS_EX memory{};
      K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                              sizeof(memory));
      std::printf("{\"event\":\"usage\",\"cpu_ms\":%.2f,\"wall_ms\":%.2f,\"private_bytes\":%llu}\n",
                  cpuMs, Millis(start), static_cast<unsigned long long>(memory.PrivateUsage));
    } else if (command == "freeall") {
      BOOL ok = api.Free();
      std::printf("{\"event\":\"freeall\",\"ok\":%d}\n", ok ? 1 : 0);
    } else {
      std::printf("{\"event\":\"unknown\"}\n");
    }
  }
  FreeLibrary(library);
  return 0;
}
