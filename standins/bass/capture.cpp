#include "standins/bass/capture.h"

#include <algorithm>

namespace {

constexpr auto kFlushEvery = std::chrono::milliseconds(250);

}  // namespace

void Capture::Open(const std::string& path, int sampleRate, int channels) {
  if (!path.empty()) writer_.Open(path, sampleRate, channels);
  lastFlush_ = std::chrono::steady_clock::now();
}

void Capture::Flush() { writer_.Flush(); }

void Capture::FlushWhenDue() {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastFlush_ < kFlushEvery) return;
  writer_.Flush();
  lastFlush_ = now;
}

std::int64_t Capture::RestMicros(std::int64_t rest) const {
  if (!writer_.IsOpen()) return rest;
  // A capture is written out on time, holding everything heard until then.
  const auto untilFlush = std::chrono::duration_cast<std::chrono::microseconds>(
      lastFlush_ + kFlushEvery - std::chrono::steady_clock::now());
  return std::min<std::int64_t>(rest, std::max<std::int64_t>(untilFlush.count(), 1'000));
}
