// The MP3 frame finder, the ID3v2 tag size (footer included), the Xing/Info/VBRI readers
// and the facts a stream works out from them, over any bytes. The first byte chooses how
// the search is asked for. Nothing may be read out of bounds; what is found lies inside
// the data and is a frame we can play.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "standins/bass/mp3_frame.h"
#include "standins/bass/stream_facts.h"

namespace {

void CheckHeader(const FrameHeader& h) {
  if (h.frameBytes < 24 || std::size_t(h.frameBytes) > kLargestFrameBytes) std::abort();
  if (h.channels != 1 && h.channels != 2) std::abort();
  if (h.samplesPerFrame != 576 && h.samplesPerFrame != 1152) std::abort();
  if (h.sampleRate < 8000 || h.sampleRate > 48000 || h.bitrateKbps <= 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = input[0];
  const std::uint8_t* data = input + 1;
  size -= 1;

  const std::size_t tag = Id3v2TagSize(data, size);
  if (tag != 0 && tag < 10) std::abort();

  FrameSearchRequest request;
  request.data = data;
  request.size = size;
  request.complete = (mode & 1) != 0;
  request.from = (mode >> 1) & 7;
  request.limit = (mode & 0x10) != 0 ? size / 2 : 0;
  request.chain = 1 + ((mode >> 5) & 3);
  // Frames of one particular stream, as a stream's cursor asks for them.
  static const std::uint8_t kStream[4] = {0xFF, 0xFB, 0x90, 0x00};
  const FrameHeader stream = *ParseFrameHeader(kStream);
  if (mode & 0x80) request.stream = &stream;

  const FrameLocation found = FindFrame(request);
  if (found.result == FrameSearch::NeedMoreData && request.complete) std::abort();
  if (found.result != FrameSearch::Found) return 0;
  if (found.offset < request.from || found.offset + kFrameHeaderBytes > size) std::abort();
  if (request.limit != 0 && found.offset > request.limit) std::abort();
  CheckHeader(found.header);
  if (request.stream != nullptr && !found.header.SameStreamAs(stream)) std::abort();

  StreamLayout layout;
  layout.first = found.header;
  layout.summary = ParseVbrSummary(data + found.offset, size - found.offset, found.header);
  layout.audioStart = std::int64_t(found.offset);
  layout.fileSize = (mode & 8) != 0 ? -1 : std::int64_t(size);
  const StreamFacts facts = ComputeStreamFacts(layout);
  if (facts.lengthBytes < -1 || !std::isfinite(facts.bitrateKbps) || facts.bitrateKbps < 0) {
    std::abort();
  }
  if (facts.lengthBytes >= 0 && BytesToSeconds(facts, facts.lengthBytes) < 0) std::abort();
  return 0;
}
