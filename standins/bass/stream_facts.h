#pragma once
// What a stream tells its caller about itself, worked out from its first frame, the
// encoder's summary frame (if any) and the file size: the length in bytes of 16-bit PCM,
// the average bitrate, and conversions between bytes, samples and seconds.
#include <cstdint>
#include <optional>

#include "standins/bass/mp3_frame.h"

struct StreamFacts {
  int sampleRate = 0;
  int channels = 0;
  std::int64_t lengthBytes = -1;  // -1 while it cannot be told (size unknown)
  bool lengthExact = false;       // false: estimated from the file size
  float bitrateKbps = 0;
};

struct StreamLayout {
  FrameHeader first;                   // the first frame (the summary frame, if any)
  std::optional<VbrSummary> summary;   // its summary, if it is one
  std::int64_t audioStart = 0;         // file offset of the first frame
  std::int64_t fileSize = -1;          // -1 when the server did not say
};

// Length and bitrate. With a frame count from the summary the length is exact; with no
// summary the file is taken as constant bitrate, the first audio frame's, and the frame
// count is the audio bytes over the mean frame size, which is exact for constant bitrate
// files and an estimate for others.
StreamFacts ComputeStreamFacts(const StreamLayout& layout);

inline std::int64_t BytesPerSampleFrame(const StreamFacts& facts) {
  return std::int64_t{facts.channels} * 2;
}
double BytesToSeconds(const StreamFacts& facts, std::int64_t bytes);
