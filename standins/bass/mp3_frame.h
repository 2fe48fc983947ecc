#pragma once
// MPEG audio Layer III frames as they sit in a file: the 4-byte frame header, the ID3v2
// tag some files begin with, the Xing/Info (or VBRI) header of the first frame, and the
// search for frames in a byte stream that may hold junk, tags or damaged stretches.
#include <cstddef>
#include <cstdint>
#include <optional>

enum class MpegVersion { Mpeg1, Mpeg2, Mpeg25 };

// The largest Layer III frame there is (MPEG-1, 320 kbps at 32 kHz, padded): room that
// must be at hand to see a whole frame and the header of the one after it.
inline constexpr std::size_t kLargestFrameBytes = 1441;
inline constexpr std::size_t kFrameHeaderBytes = 4;

struct FrameHeader {
  MpegVersion version = MpegVersion::Mpeg1;
  int bitrateKbps = 0;
  int sampleRate = 0;
  bool padding = false;
  bool crcProtected = false;
  int channels = 2;
  int frameBytes = 0;       // the whole frame, header included
  int samplesPerFrame = 0;  // per channel

  // Frames of one stream share version and sample rate; anything else is a false sync.
  bool SameStreamAs(const FrameHeader& other) const {
    return version == other.version && sampleRate == other.sampleRate;
  }
};

// The header at `bytes` (4 bytes are read), if it is a Layer III header we can play:
// free-format and reserved values are refused.
std::optional<FrameHeader> ParseFrameHeader(const std::uint8_t* bytes);

// Bytes taken by the ID3v2 tag at the start of `bytes` (header, body and footer), 0 when
// there is none. Needs the 10 header bytes; fewer give 0.
std::size_t Id3v2TagSize(const std::uint8_t* bytes, std::size_t size);

// Frame and byte counts of an encoder's summary frame (Xing/Info or VBRI). Either count
// may be missing. The summary frame carries no audio.
struct VbrSummary {
  std::optional<std::uint32_t> frames;
  std::optional<std::uint32_t> bytes;
};
// Looks inside the frame at `frame` (header included, `size` bytes available).
std::optional<VbrSummary> ParseVbrSummary(const std::uint8_t* frame, std::size_t size,
                                          const FrameHeader& header);

// Finding frames. A frame counts only when the headers of the frames that follow it
// chain on (each at the end of the one before, same stream), so that a stray 0xFF in
// a tag, a page of HTML or a damaged stretch is not taken for audio.
enum class FrameSearch { Found, NeedMoreData, NotFound };
struct FrameLocation {
  FrameSearch result = FrameSearch::NotFound;
  std::size_t offset = 0;  // Found: the frame; NeedMoreData: where to search again
  FrameHeader header;
};

struct FrameSearchRequest {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;       // bytes available so far
  bool complete = false;      // no more bytes will come
  std::size_t from = 0;       // first offset to try
  std::size_t limit = 0;      // give up for offsets beyond this (0: no limit)
  int chain = 3;              // headers that must chain, the frame's own included
  const FrameHeader* stream = nullptr;  // when set, frames must belong to this stream
};

// The first frame at or after `from`. A chain cut short by the end of complete data
// still counts: the last frames of a file have no successors.
FrameLocation FindFrame(const FrameSearchRequest& request);
