#pragma once
// Threads that keep a module loaded while they run: each takes a reference on the module
// that holds a given address before it starts, and gives it back as its very last act
// (FreeLibraryAndExitThread). A program that frees the module while such a thread runs
// never leaves the thread in unmapped code: the module goes when the last of them has ended.
// Our Bass.dll keeps itself loaded this way; a program's copy thread keeps WinHTTP loaded.
#include <windows.h>

#include <functional>
#include <memory>
#include <utility>

#include "platform/owners_win.h"

// What a thread's body returns: whether the thread may give its reference back. A body that
// cannot be sure nothing will call into the module again keeps it, and the module then
// stays loaded for the rest of the process.
enum class ModuleRelease { Release, Keep };

// The module this code is built into (the program, or our Bass.dll).
extern "C" IMAGE_DOS_HEADER __ImageBase;
inline const void* ThisModule() { return &__ImageBase; }

namespace module_thread {

struct Start {
  std::function<ModuleRelease()> body;
  HMODULE module = nullptr;
};

inline DWORD WINAPI Main(void* parameter) {
  HMODULE module = nullptr;
  ModuleRelease release = ModuleRelease::Release;
  {
    std::unique_ptr<Start> start(static_cast<Start*>(parameter));
    module = start->module;
    try {
      release = start->body();
    } catch (...) {
      release = ModuleRelease::Release;
    }
  }
  if (release == ModuleRelease::Keep) ExitThread(0);
  FreeLibraryAndExitThread(module, 0);
  return 0;  // never reached
}

}  // namespace module_thread

// Starts `body` on a thread that holds the module containing `inModule`. An empty handle,
// with nothing started, when no reference or no thread could be had. An exception that
// leaves `body` ends the thread as Release.
inline ThreadHandle StartModuleThread(const void* inModule, std::function<ModuleRelease()> body) {
  auto start = std::make_unique<module_thread::Start>();
  start->body = std::move(body);
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          static_cast<LPCWSTR>(inModule), &start->module)) {
    return ThreadHandle();
  }
  ModuleReference reference(start->module);  // the thread's, once it runs
  ThreadHandle thread(CreateThread(nullptr, 0, &module_thread::Main, start.get(), 0, nullptr));
  if (!thread) return thread;
  reference.release();
  start.release();
  return thread;
}
