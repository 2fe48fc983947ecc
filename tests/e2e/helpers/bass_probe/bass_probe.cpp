// Drives Bass.dll for the stream tests: reads one command per line from standard input
// and answers each with one JSON line on standard output. The library is bound at run time
// by name, as the players bind it.
//   bass_probe.exe <path of Bass.dll> [--unbound]
// Commands: init [device] | open <url> | openfile <path> | facts | play [0|1] | pause |
// stop | volume <v> | globalvolume <v> | seek <bytes> | state | level <seconds> <flags> |
// wait <ms> | waitend <ms> | free | handles | cycles <n> <url>... | tags | quit
// With --unbound the library is not loaded at start, for the commands that load it
// themselves or look at another process: unloadcycles <n> <url> | watch <program.exe>
// (its handles, threads, GDI and user objects).
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <chrono>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

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
  bass::SetVolume* SetVolume;
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

// Handles a process holds, from the system's table of every handle (Wine's
// GetProcessHandleCount answers 0 for any process).
long HandleCount(DWORD process) {
  using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  struct Entry {  // SYSTEM_HANDLE_ENTRY
    ULONG owner;
    BYTE type, flags;
    USHORT value;
    void* object;
    ULONG access;
  };
  constexpr int kSystemHandleInformation = 16;
  std::vector<unsigned char> table(1 << 20);
  ULONG needed = 0;
  LONG status = 0;
  while (query != nullptr &&
         (status = query(kSystemHandleInformation, table.data(), ULONG(table.size()), &needed)) ==
             LONG(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
    table.resize(table.size() * 2);
  }
  if (query == nullptr || status != 0) return -1;
  const ULONG count = *reinterpret_cast<ULONG*>(table.data());
  const auto* entries = reinterpret_cast<const Entry*>(table.data() + sizeof(void*));
  long owned = 0;
  for (ULONG i = 0; i < count; ++i) owned += entries[i].owner == process ? 1 : 0;
  return owned;
}

// Threads of a process, as the system's snapshot counts them.
int ThreadCount(DWORD process) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == process) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

// Threads of this process whose start address lies in [base, base + size).
int ThreadsStartedIn(const void* base, std::size_t size) {
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (query == nullptr || snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  const auto* low = static_cast<const char*>(base);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId()) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;
    void* start = nullptr;
    constexpr int kThreadQuerySetWin32StartAddress = 9;
    if (query(thread, kThreadQuerySetWin32StartAddress, &start, sizeof(start), nullptr) == 0) {
      const auto* at = static_cast<const char*>(start);
      if (at >= low && at < low + size) ++count;
    }
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return count;
}

// The players' whole road through the library, from loading to unloading, `n` times:
// afterwards the library must be gone from the process with no thread left in its code.
void UnloadCycles(const char* path, int n, const std::string& url) {
  MODULEINFO first{};
  int opened = 0;
  const int threadsBefore = ThreadCount(GetCurrentProcessId());
  for (int i = 0; i < n; ++i) {
    HMODULE library = LoadLibraryA(path);
    if (library == nullptr) break;
    if (i == 0) GetModuleInformation(GetCurrentProcess(), library, &first, sizeof(first));
    auto entry = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(library, name)); };
    auto init = reinterpret_cast<bass::Init*>(entry("BASS_Init"));
    auto create = reinterpret_cast<bass::StreamCreateURL*>(entry("BASS_StreamCreateURL"));
    auto play = reinterpret_cast<bass::ChannelPlay*>(entry("BASS_ChannelPlay"));
    auto stop = reinterpret_cast<bass::ChannelStop*>(entry("BASS_ChannelStop"));
    auto streamFree = reinterpret_cast<bass::StreamFree*>(entry("BASS_StreamFree"));
    auto freeAll = reinterpret_cast<bass::Free*>(entry("BASS_Free"));
    init(-1, 44100, 0, nullptr, nullptr);
    HSTREAM stream = create(url.c_str(), 0, 0, nullptr, nullptr);
    if (stream != 0) ++opened;
    play(stream, TRUE);
    stop(stream);
    streamFree(stream);
    freeAll();
    FreeLibrary(library);
  }
  // The library goes when the last of its own threads has let it go.
  auto start = std::chrono::steady_clock::now();
  while (GetModuleHandleA("Bass.dll") != nullptr && Millis(start) < 30000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const bool loaded = GetModuleHandleA("Bass.dll") != nullptr;
  std::printf("{\"event\":\"unloadcycles\",\"opened\":%d,\"still_loaded\":%d,\"unload_ms\":%.1f,"
              "\"threads_before\":%d,\"threads_after\":%d,\"threads_in_library\":%d}\n",
              opened, loaded ? 1 : 0, Millis(start), threadsBefore,
              ThreadCount(GetCurrentProcessId()), ThreadsStartedIn(first.lpBaseOfDll, first.SizeOfImage));
}

// GDI objects of a process: Windows counts them with GetGuiResources; Wine answers 0 there
// but keeps each process's objects in a table that its environment block points to, laid
// out as on Windows (a kernel pointer, the owner's process id, a count, an upper word, the
// type, a user pointer), so the live entries of the table are counted instead (the stock
// objects included, a constant).
long GdiObjects(HANDLE process, DWORD pid) {
  const DWORD counted = GetGuiResources(process, GR_GDIOBJECTS);
  if (counted != 0) return long(counted);
#ifdef _WIN64
  using Query = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  struct Basic {  // PROCESS_BASIC_INFORMATION
    LONG_PTR exitStatus;
    unsigned char* peb;
    ULONG_PTR affinity, priority, id, parent;
  } basic{};
  if (query == nullptr || query(process, 0, &basic, sizeof(basic), nullptr) != 0) return -1;
  constexpr std::size_t kTableInEnvironmentBlock = 0xF8;
  void* table = nullptr;
  if (!ReadProcessMemory(process, basic.peb + kTableInEnvironmentBlock, &table, sizeof(table),
                         nullptr) || table == nullptr) {
    return -1;
  }
  struct Entry {
    void* object;
    USHORT owner, count, upper, type;
    void* user;
  };
  constexpr std::size_t kEntries = 0x10000, kBatch = 4096;
  std::vector<Entry> entries(kBatch);
  long owned = 0;
  for (std::size_t first = 0; first < kEntries; first += kBatch) {
    if (!ReadProcessMemory(process, static_cast<Entry*>(table) + first, entries.data(),
                           kBatch * sizeof(Entry), nullptr)) {
      break;
    }
    for (const Entry& entry : entries) {
      // Wine leaves the owner blank: its table holds the one process's objects (the stock
      // objects among them) and nothing else.
      const bool ours = entry.owner == USHORT(pid) || entry.owner == 0;
      owned += (entry.type & 0x7F) != 0 && ours ? 1 : 0;
    }
  }
  return owned;
#else
  (void)pid;
  return -1;
#endif
}

struct WindowSearch {
  DWORD pid;
  long windows;
};

BOOL CALLBACK CountWindow(HWND window, LPARAM search) {
  auto* s = reinterpret_cast<WindowSearch*>(search);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  s->windows += owner == s->pid ? 1 : 0;
  return TRUE;
}

BOOL CALLBACK CountWindowAndChildren(HWND window, LPARAM search) {
  CountWindow(window, search);
  EnumChildWindows(window, CountWindow, search);
  return TRUE;
}

// User objects: GetGuiResources on Windows; under Wine (0 there too) the windows the
// process's threads own, which is what a user-object leak of these programs would be.
long UserObjects(HANDLE process, DWORD pid) {
  const DWORD counted = GetGuiResources(process, GR_USEROBJECTS);
  if (counted != 0) return long(counted);
  WindowSearch search{pid, 0};
  EnumWindows(CountWindowAndChildren, reinterpret_cast<LPARAM>(&search));
  for (HWND message = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); message != nullptr;
       message = FindWindowExA(HWND_MESSAGE, message, nullptr, nullptr)) {
    CountWindow(message, reinterpret_cast<LPARAM>(&search));
  }
  return search.windows;
}

// Handles, threads, GDI and user objects of a running program, found by its file name (the
// tests read its memory from /proc, as the benchmarks do).
void Watch(const std::string& name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  DWORD pid = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (_stricmp(entry.szExeFile, name.c_str()) == 0) pid = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  HANDLE process = pid != 0 ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid)
                            : nullptr;
  std::printf("{\"event\":\"watch\",\"pid\":%lu,\"handles\":%ld,\"threads\":%d,\"gdi\":%ld,"
              "\"user\":%ld}\n",
              pid, pid != 0 ? HandleCount(pid) : -1, pid != 0 ? ThreadCount(pid) : -1,
              process != nullptr ? GdiObjects(process, pid) : -1,
              process != nullptr ? UserObjects(process, pid) : -1);
  if (process != nullptr) CloseHandle(process);
}

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
  if (argc > 2 && std::strcmp(argv[2], "--unbound") == 0) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("{\"event\":\"ready\"}\n");
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::istringstream in(line);
      std::string command, argument;
      int n = 0;
      in >> command;
      if (command == "quit") break;
      if (command == "unloadcycles" && in >> n >> argument) {
        UnloadCycles(argv[1], n, argument);
      } else if (command == "watch" && in >> argument) {
        Watch(argument);
      } else {
        std::printf("{\"event\":\"unknown\"}\n");
      }
    }
    return 0;
  }
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
  Bind(library, api.SetVolume, "BASS_SetVolume");
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
    } else if (command == "volume" || command == "globalvolume") {
      // strtof, unlike a stream, reads "nan", "inf" and "-inf".
      std::string text;
      in >> text;
      const float volume = std::strtof(text.c_str(), nullptr);
      BOOL ok = command == "volume" ? api.ChannelSetAttribute(h, BASS_ATTRIB_VOL, volume)
                                    : api.SetVolume(volume);
      std::printf("{\"event\":\"volume\",\"ok\":%d,\"error\":%d}\n", ok ? 1 : 0,
                  api.ErrorGetCode());
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
      std::printf("{\"event\":\"handles\",\"count\":%ld,\"threads\":%d}\n",
                  HandleCount(GetCurrentProcessId()), ThreadCount(GetCurrentProcessId()));
    } else if (command == "cycles") {
      // n create/play/free cycles of each address, the addresses side by side on threads
      // of their own.
      int n = 0;
      in >> n;
      std::vector<std::string> urls;
      for (std::string url; in >> url;) urls.push_back(url);
      std::atomic<int> opened{0};
      std::vector<double> slowest(urls.size(), 0.0);
      std::vector<std::thread> workers;
      for (std::size_t u = 0; u < urls.size(); ++u) {
        workers.emplace_back([&, u] {
          for (int i = 0; i < n; ++i) {
            HSTREAM s = api.StreamCreateURL(urls[u].c_str(), 0, 0, nullptr, nullptr);
            if (s != 0) ++opened;
            api.ChannelPlay(s, TRUE);
            auto start = std::chrono::steady_clock::now();
            api.StreamFree(s);
            slowest[u] = std::max(slowest[u], Millis(start));
          }
        });
      }
      for (auto& worker : workers) worker.join();
      std::printf("{\"event\":\"cycles\",\"opened\":%d,\"slowest_free_ms\":%.2f}\n",
                  opened.load(), *std::max_element(slowest.begin(), slowest.end()));
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
