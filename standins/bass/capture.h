#pragma once
// The test build's capture: every sample a stream plays, after volume, goes to a WAV file
// whose header is brought up to date every 250 ms, whenever playing stops, and at the end.
// The build that ships captures nothing: there this class is empty and every call is a
// no-op, so a stream never asks which build it is in.
#include <cstddef>
#include <cstdint>

#if TUNER_TEST_BUILD
#include <chrono>
#include <string>

#include "standins/bass/wav_writer.h"

class Capture {
 public:
  // An empty path captures nothing.
  void Open(const std::string& path, int sampleRate, int channels);
  void Heard(const std::int16_t* samples, std::size_t count) { writer_.Append(samples, count); }
  void Flush();
  // Flushes once 250 ms have passed since the last flush.
  void FlushWhenDue();
  // How long a thread that flushes may rest at most: `rest`, cut short for the next flush.
  std::int64_t RestMicros(std::int64_t rest) const;
  void Close() { writer_.Close(); }

 private:
  WavWriter writer_;
  std::chrono::steady_clock::time_point lastFlush_;
};
#else
class Capture {
 public:
  void Heard(const std::int16_t*, std::size_t) {}
  void Flush() {}
  void FlushWhenDue() {}
  std::int64_t RestMicros(std::int64_t rest) const { return rest; }
  void Close() {}
};
#endif
