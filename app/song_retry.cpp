#include "app/song_retry.h"

namespace {
constexpr std::uint32_t kFirstWaitMilliseconds = 1000;
// From this many failures on the doubling has passed the longest wait; counting stops there,
// so a run without end cannot wrap the count round to the failures passed over at once.
constexpr unsigned kFailuresAtTheLongestWait = kFailuresPassedOverAtOnce + 6;
}  // namespace

bool SongPlays(std::int64_t fileSize, std::int64_t lengthBytes) {
  return fileSize != -1 && lengthBytes != -1;
}

std::uint32_t RetryWaitMilliseconds(unsigned failedInARow) {
  if (failedInARow <= kFailuresPassedOverAtOnce) return 0;
  if (failedInARow >= kFailuresAtTheLongestWait) return kLongestRetryWaitMilliseconds;
  const std::uint32_t wait = kFirstWaitMilliseconds << (failedInARow - kFailuresPassedOverAtOnce - 1);
  return wait < kLongestRetryWaitMilliseconds ? wait : kLongestRetryWaitMilliseconds;
}

void SongRetry::SongStarted(bool plays, std::uint64_t now) {
  if (plays) {
    failedInARow_ = 0;
    nextTry_ = 0;
    return;
  }
  if (failedInARow_ < kFailuresAtTheLongestWait) ++failedInARow_;
  nextTry_ = now + RetryWaitMilliseconds(failedInARow_);
}

unsigned SongRetry::SecondsLeft(std::uint64_t now) const {
  if (now >= nextTry_) return 0;
  return static_cast<unsigned>((nextTry_ - now + 999) / 1000);
}
