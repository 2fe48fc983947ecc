#include "standins/bass/stream_facts.h"

#include <cmath>

StreamFacts ComputeStreamFacts(const StreamLayout& layout) {
  StreamFacts facts;
  const FrameHeader& first = layout.first;
  facts.sampleRate = first.sampleRate;
  facts.channels = first.channels;
  const std::int64_t bytesPerFrame =
      std::int64_t{first.samplesPerFrame} * BytesPerSampleFrame(facts);
  const double secondsPerFrame = double(first.samplesPerFrame) / first.sampleRate;

  // Audio bytes: what follows the summary frame (which holds no audio) up to the end.
  std::int64_t audioBytes = -1;
  if (layout.fileSize >= 0) {
    audioBytes = layout.fileSize - layout.audioStart - (layout.summary ? first.frameBytes : 0);
    if (audioBytes < 0) audioBytes = 0;
  }

  if (layout.summary && layout.summary->frames && *layout.summary->frames > 0) {
    const std::int64_t frames = *layout.summary->frames;
    facts.lengthBytes = frames * bytesPerFrame;
    facts.lengthExact = true;
    std::optional<std::int64_t> bytes;
    // The summary's byte count covers the stream from the summary frame on.
    if (layout.summary->bytes && *layout.summary->bytes > std::uint32_t(first.frameBytes)) {
      bytes = std::int64_t{*layout.summary->bytes} - first.frameBytes;
    }
    if (!bytes && audioBytes >= 0) bytes = audioBytes;
    if (bytes) facts.bitrateKbps = float(double(*bytes) * 8 / (frames * secondsPerFrame) / 1000);
    else facts.bitrateKbps = float(first.bitrateKbps);
    return facts;
  }

  facts.bitrateKbps = float(first.bitrateKbps);
  if (audioBytes < 0) return facts;
  // Mean frame size of a constant bitrate stream, padding included.
  const double meanFrameBytes = first.bitrateKbps * 1000.0 * secondsPerFrame / 8;
  const auto frames = static_cast<std::int64_t>(std::llround(audioBytes / meanFrameBytes));
  facts.lengthBytes = frames * bytesPerFrame;
  facts.lengthExact = false;
  return facts;
}

double BytesToSeconds(const StreamFacts& facts, std::int64_t bytes) {
  if (facts.sampleRate <= 0 || facts.channels <= 0) return -1;
  return double(bytes) / double(BytesPerSampleFrame(facts)) / facts.sampleRate;
}
