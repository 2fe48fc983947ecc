// The test build's switches (README "Settings for tests"), read each time a stream is made.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>

#include "standins/bass/stream_settings.h"
#include "standins/bass/wav_writer.h"

namespace {

std::string Environment(const char* name) {
  char value[1024] = {};
  DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
}

}  // namespace

void ApplyTestSwitches(StreamSettings& settings) {
  static std::atomic<unsigned> streamsCaptured{0};
  if (Environment("TUNER_BASS_SILENT") == "1") settings.silent = true;
  std::string capture = Environment("TUNER_BASS_CAPTURE");
  if (!capture.empty()) settings.capturePath = NumberedCapturePath(capture, ++streamsCaptured);
  std::string failAt = Environment("TUNER_BASS_FAIL_ALLOCATION_AT");
  if (!failAt.empty()) settings.failAllocationAt = std::strtoull(failAt.c_str(), nullptr, 10);
  std::string cap = Environment("TUNER_BASS_STREAM_CAP");
  // A cap beyond the address space (4 GiB in a 32-bit process) means no cap, not its low bits.
  if (!cap.empty()) {
    const unsigned long long asked = std::strtoull(cap.c_str(), nullptr, 10);
    settings.cap = static_cast<std::size_t>(
        std::clamp<unsigned long long>(asked, 1, std::numeric_limits<std::size_t>::max()));
  }
}
