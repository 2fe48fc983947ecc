#pragma once
// How a new stream is made. The build that ships knows only the library's own setting; the
// test build adds its switches, read from the environment (test_switches_win.cpp).
#include <cstddef>
#include <cstdint>
#include <string>

#include "standins/bass/downloaded_file.h"

struct StreamSettings {
  bool silent = false;  // the silent clock even where a device exists ("no sound" device)
#if TUNER_TEST_BUILD
  std::string capturePath;  // WAV file of everything played, after volume; empty: none
  // The download's memory runs out at this byte, for the tests of its failure path.
  std::size_t failAllocationAt = SIZE_MAX;
  // The most of its file the stream may hold (the process's budget still applies).
  std::size_t cap = DownloadedFile::kStreamCap;
#endif
};

#if TUNER_TEST_BUILD
// Reads the switches for the next stream from the environment.
void ApplyTestSwitches(StreamSettings& settings);
#else
inline void ApplyTestSwitches(StreamSettings&) {}
#endif
