#include "standins/bass/mp3_frame.h"

namespace {

constexpr int kMpeg1Bitrates[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                    112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kMpeg2Bitrates[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                    64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

std::uint32_t BigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
         (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

// Side information lies between the header (and its CRC) and the summary frame's tag.
std::size_t SideInfoBytes(const FrameHeader& header) {
  bool mono = header.channels == 1;
  if (header.version == MpegVersion::Mpeg1) return mono ? 17 : 32;
  return mono ? 9 : 17;
}

bool Matches(const std::uint8_t* p, const char* tag) {
  return p[0] == tag[0] && p[1] == tag[1] && p[2] == tag[2] && p[3] == tag[3];
}

// Tags that may follow the last frame of a file (ID3v1, an appended ID3v2, APE): the
// frame before them is the last of the chain, not a false sync.
bool IsTrailingTag(const std::uint8_t* p) {
  return (p[0] == 'T' && p[1] == 'A' && p[2] == 'G') || (p[0] == 'I' && p[1] == 'D' && p[2] == '3') ||
         Matches(p, "APET");
}

}  // namespace

std::optional<FrameHeader> ParseFrameHeader(const std::uint8_t* b) {
  if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return std::nullopt;
  int versionBits = (b[1] >> 3) & 3;
  int layerBits = (b[1] >> 1) & 3;
  int bitrateIndex = b[2] >> 4;
  int rateIndex = (b[2] >> 2) & 3;
  if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 ||
      rateIndex == 3) {
    return std::nullopt;
  }
  FrameHeader h;
  h.version = versionBits == 3   ? MpegVersion::Mpeg1
              : versionBits == 2 ? MpegVersion::Mpeg2
                                 : MpegVersion::Mpeg25;
  bool mpeg1 = h.version == MpegVersion::Mpeg1;
  h.bitrateKbps = mpeg1 ? kMpeg1Bitrates[bitrateIndex] : kMpeg2Bitrates[bitrateIndex];
  h.sampleRate = kSampleRates[static_cast<int>(h.version)][rateIndex];
  h.padding = ((b[2] >> 1) & 1) != 0;
  h.crcProtected = (b[1] & 1) == 0;
  h.channels = (b[3] >> 6) == 3 ? 1 : 2;
  h.samplesPerFrame = mpeg1 ? 1152 : 576;
  int slotFactor = mpeg1 ? 144 : 72;
  h.frameBytes = slotFactor * h.bitrateKbps * 1000 / h.sampleRate + (h.padding ? 1 : 0);
  return h;
}

std::size_t Id3v2TagSize(const std::uint8_t* b, std::size_t size) {
  if (size < 10 || b[0] != 'I' || b[1] != 'D' || b[2] != '3') return 0;
  if (b[3] == 0xFF || b[4] == 0xFF) return 0;
  std::size_t body = 0;
  for (int i = 6; i < 10; ++i) {
    if (b[i] & 0x80) return 0;  // sizes are syncsafe: a set top bit means no tag
    body = (body << 7) | b[i];
  }
  bool footer = (b[5] & 0x10) != 0;
  return 10 + body + (footer ? 10 : 0);
}

std::optional<VbrSummary> ParseVbrSummary(const std::uint8_t* frame, std::size_t size,
                                          const FrameHeader& header) {
  std::size_t xing = 4 + (header.crcProtected ? 2 : 0) + SideInfoBytes(header);
  if (xing + 16 <= size && (Matches(frame + xing, "Xing") || Matches(frame + xing, "Info"))) {
    VbrSummary summary;
    std::uint32_t flags = BigEndian32(frame + xing + 4);
    std::size_t at = xing + 8;
    if (flags & 1) {
      summary.frames = BigEndian32(frame + at);
      at += 4;
    }
    if ((flags & 2) && at + 4 <= size) summary.bytes = BigEndian32(frame + at);
    return summary;
  }
  // The other encoder's header sits at a fixed place after 32 bytes of side information.
  constexpr std::size_t vbri = 4 + 32;
  if (vbri + 18 <= size && Matches(frame + vbri, "VBRI")) {
    VbrSummary summary;
    summary.bytes = BigEndian32(frame + vbri + 10);
    summary.frames = BigEndian32(frame + vbri + 14);
    return summary;
  }
  return std::nullopt;
}

FrameLocation FindFrame(const FrameSearchRequest& r) {
  FrameLocation location;
  for (std::size_t at = r.from;; ++at) {
    if (r.limit != 0 && at > r.limit) return location;  // NotFound
    if (at + 4 > r.size) {
      if (r.complete) return location;
      location.result = FrameSearch::NeedMoreData;
      location.offset = at;
      return location;
    }
    std::optional<FrameHeader> first = ParseFrameHeader(r.data + at);
    if (!first || (r.stream != nullptr && !first->SameStreamAs(*r.stream))) continue;
    // Walk the chain of successors.
    std::size_t next = at;
    FrameHeader current = *first;
    bool chained = true;
    bool waiting = false;
    for (int link = 1; link < r.chain; ++link) {
      next += static_cast<std::size_t>(current.frameBytes);
      if (next + 4 > r.size) {
        // At the very end of a finished file the chain may stop short.
        if (r.complete) {
          chained = next <= r.size;
        } else {
          waiting = true;
        }
        break;
      }
      if (IsTrailingTag(r.data + next)) break;
      std::optional<FrameHeader> successor = ParseFrameHeader(r.data + next);
      if (!successor || !successor->SameStreamAs(*first)) {
        chained = false;
        break;
      }
      current = *successor;
    }
    if (waiting) {
      location.result = FrameSearch::NeedMoreData;
      location.offset = at;
      return location;
    }
    if (chained) {
      location.result = FrameSearch::Found;
      location.offset = at;
      location.header = *first;
      return location;
    }
  }
}
