#pragma once
// Binding a library's entry points at run time, by their exported names. Each name is looked
// up in the order given and stored in its slot; from the first name the library lacks on,
// nothing more is looked up, and the slots resolved before it stay set. A null library
// resolves nothing.
#include <windows.h>

class EntryBinder {
 public:
  explicit EntryBinder(HMODULE library) : library_(library), complete_(library != nullptr) {}

  template <typename Entry>
  void operator()(Entry& slot, const char* name) {
    if (!complete_) return;
    slot = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library_, name)));
    complete_ = slot != nullptr;
  }
  // Every name asked for so far was found.
  bool Complete() const { return complete_; }

 private:
  HMODULE library_;
  bool complete_;
};
