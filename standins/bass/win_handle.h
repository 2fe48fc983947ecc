#pragma once
// Owners of handles (kernel objects, WinHTTP handles): closed when the owner goes.
#include <windows.h>

template <typename Handle, BOOL(WINAPI* Close)(Handle)>
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Handle handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() {
    if (handle_ != nullptr) Close(handle_);
  }
  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  Handle handle_ = nullptr;
};

using UniqueHandle = OwnedHandle<HANDLE, CloseHandle>;
