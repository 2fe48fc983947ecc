#pragma once
// Saving a copy of the current song: on "d" the song's address is fetched once more over
// HTTPS on a thread of its own, collected in memory and written into the folder named after
// the host beside the program, while playback goes on.
#include <cstdint>
#include <string>

#include "web/save_copy.h"
#include "web/winhttp_binding_win.h"

// Main thread, on "d": makes sure the save folder exists, then starts a copy of the current
// song unless one is running or the song cannot be saved (no stream, no usable size or
// name). Silent either way.
void StartDownload();

// Main thread, once per pass of the player loop: once a copy has finished, lets its thread
// go and blanks the "Downloading..." row (if the copy got as far as showing it), after
// which "d" works again.
void PollDownload();

// Main thread, at quit, before the shared connection is closed and WinHTTP unloaded: a copy
// still being fetched is given up. It writes no file and nothing more to the console (the
// console stays this thread's until the process ends), and it keeps WinHTTP loaded for its
// own calls until it ends with the process.
void AbandonDownload();

// One copy: everything it needs, taken from the song that was current when it started,
// so that songs skipped meanwhile cannot mix into it.
struct DownloadJob {
  SaveCopyPlan plan;
  std::string saveFolder;
  HttpHandle session = nullptr;  // the shared session; the copy connects on it to `host`
  std::string host;
  std::uint16_t row = 0;  // where "Downloading..." goes
  std::uint8_t textColour = 15;
  std::uint8_t backColour = 0;
};

// The copy thread's work, on the calling thread: fetches the song and writes the file only
// when the answer was 200 and its body reached the size (cut to it when longer); otherwise
// nothing is written and an earlier copy of that name stays as it was. Sets downloadState
// to Finished on every path.
void DownloadSong(const DownloadJob& job);
