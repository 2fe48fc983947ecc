#pragma once
// The copy thread's side of saving a copy, for web/save_copy_win.cpp, which runs it on a
// thread of its own, and for the tests that run it on theirs. The rest of the program
// goes through web/save_copy_win.h.
#include <cstdint>
#include <string>

#include "web/save_copy.h"
#include "web/winhttp_binding_win.h"

// One copy: everything it needs, taken from the song that was current when it started,
// so that songs skipped meanwhile cannot mix into it.
struct DownloadJob {
  SaveCopyPlan plan;
  std::string saveFolder;
  HttpHandle session = nullptr;  // the shared session; the copy connects on it to `host`
  std::string host;
};

// The copy thread's work, on the calling thread: fetches the song and writes the file only
// when the answer was 200 and its body reached the size (cut to it when longer); otherwise
// nothing is written and an earlier copy of that name stays as it was. Sets downloadState
// to Finished on every path.
void DownloadSong(const DownloadJob& job);
