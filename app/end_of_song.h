#pragma once
#include <cstdint>

// True when the current song is over: the play position has reached the length, or the
// decoder has read the whole file (file size less audio start less file position is zero
// or less). A stream that failed to open (-1 everywhere) counts as ended at once.
bool SongHasEnded(std::int64_t position, std::int64_t lengthBytes, std::int64_t fileSize,
                  std::int64_t audioStart, std::int64_t filePosition);
