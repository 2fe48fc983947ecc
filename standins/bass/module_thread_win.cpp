#include "standins/bass/module_thread_win.h"

#include <windows.h>

#include <memory>
#include <utility>

namespace {

struct ThreadStart {
  std::function<ModuleRelease()> body;
  HMODULE module = nullptr;
};

DWORD WINAPI ModuleThreadMain(void* parameter) {
  HMODULE module = nullptr;
  ModuleRelease release = ModuleRelease::Release;
  {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
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

}  // namespace

bool StartModuleThread(std::function<ModuleRelease()> body) {
  auto start = std::make_unique<ThreadStart>();
  start->body = std::move(body);
  // A reference of the thread's own, taken from an address inside this library.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&ModuleThreadMain), &start->module)) {
    return false;
  }
  HMODULE module = start->module;
  HANDLE thread = CreateThread(nullptr, 0, &ModuleThreadMain, start.get(), 0, nullptr);
  if (thread == nullptr) {
    FreeLibrary(module);
    return false;
  }
  start.release();  // the thread's now
  CloseHandle(thread);
  return true;
}
