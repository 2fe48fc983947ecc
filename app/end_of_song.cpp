#include "app/end_of_song.h"

#include <limits>

namespace {

// Whether a - b - c <= 0, that is a <= b + c, decided exactly for every 64-bit input.
// The audio library reports -1 for facts it cannot tell, so the plain difference could
// overflow; the sum b + c is only formed when it fits.
bool RemainderIsEmpty(std::int64_t a, std::int64_t b, std::int64_t c) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  if (c > 0 && b > kMax - c) return true;   // b + c exceeds every a
  if (c < 0 && b < kMin - c) return false;  // b + c lies below every a
  return a <= b + c;
}

}  // namespace

bool SongHasEnded(std::int64_t position, std::int64_t lengthBytes, std::int64_t fileSize,
                  std::int64_t audioStart, std::int64_t filePosition) {
  return position >= lengthBytes || RemainderIsEmpty(fileSize, audioStart, filePosition);
}
