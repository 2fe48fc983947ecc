#pragma once
// Owners of the handles that the programs, our Bass.dll and MODE hold. An owner closes its
// handle exactly once: when it goes, or when it is reset. Handles opened one after another
// are then closed in reverse order of opening simply by the order of their owners' scopes.
//
// One template for every kind of handle; a kind says what its empty value is and how a
// handle of it is closed.
#include <windows.h>
#include <mmsystem.h>

#include <utility>

template <typename Kind>
class Owned {
 public:
  using Handle = typename Kind::Handle;

  Owned() = default;
  explicit Owned(Handle handle, Kind kind = Kind{}) : handle_(handle), kind_(kind) {}
  Owned(Owned&& other) noexcept : handle_(other.release()), kind_(other.kind_) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      reset(other.release());
      kind_ = other.kind_;
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Kind::Empty(); }
  // Closes the handle held, if any, and holds `handle` from now on.
  void reset(Handle handle = Kind::Empty()) {
    if (*this) kind_.Close(handle_);
    handle_ = handle;
  }
  // Hands the handle to the caller, who closes it from then on.
  Handle release() { return std::exchange(handle_, Kind::Empty()); }

 private:
  Handle handle_ = Kind::Empty();
  Kind kind_{};
};

// A kind whose empty value is null and whose handles one call closes.
template <typename HandleType, auto CloseFunction>
struct ClosedBy {
  using Handle = HandleType;
  static Handle Empty() { return nullptr; }
  void Close(Handle handle) const { CloseFunction(handle); }
};

// Kernel objects: events, processes, snapshots of the thread list...
using UniqueHandle = Owned<ClosedBy<HANDLE, &CloseHandle>>;

// What CreateFile opens: its empty value is INVALID_HANDLE_VALUE, not null.
struct FileKind : ClosedBy<HANDLE, &CloseHandle> {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
};
using FileHandle = Owned<FileKind>;

// A thread's handle. Letting it go (reset, or the owner's end) neither waits for the thread
// nor stops it: the thread runs on to its own end. A holder that must wait does so itself,
// on get(), before it lets go.
struct ThreadKind : ClosedBy<HANDLE, &CloseHandle> {};
using ThreadHandle = Owned<ThreadKind>;

// A reference on a loaded module (LoadLibrary, GetModuleHandleEx), given back with FreeLibrary.
using ModuleReference = Owned<ClosedBy<HMODULE, &FreeLibrary>>;

// GDI objects (bitmaps, brushes, fonts), deleted when their owner goes.
template <typename Object>
using GdiObject = Owned<ClosedBy<Object, &DeleteObject>>;

// A window's device context, given back to that window.
struct WindowDcKind {
  using Handle = HDC;
  HWND window = nullptr;
  static HDC Empty() { return nullptr; }
  void Close(HDC dc) const { ReleaseDC(window, dc); }
};
using WindowDc = Owned<WindowDcKind>;
inline WindowDc GetWindowDc(HWND window) { return WindowDc(GetDC(window), WindowDcKind{window}); }

// Moveable memory (GlobalAlloc).
using GlobalMemory = Owned<ClosedBy<HGLOBAL, &GlobalFree>>;

// One reference on a COM object.
template <typename Interface>
struct ReleasedKind {
  using Handle = Interface*;
  static Interface* Empty() { return nullptr; }
  void Close(Interface* object) const { object->Release(); }
};
template <typename Interface>
using ComRef = Owned<ReleasedKind<Interface>>;

// An open wave-out device. Its queued buffers must be reset and unprepared before it closes.
using WaveOutHandle = Owned<ClosedBy<HWAVEOUT, &waveOutClose>>;

// WinHTTP handles are closed through whichever binding the holder uses (our Bass.dll links
// WinHTTP, the programs bind it at run time): `Close` is that binding's close call.
template <auto Close>
using HttpOwner = Owned<ClosedBy<void*, Close>>;
