#include "standins/bass/acm_decoder_win.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kInputBytes = 16 * 1024;

}  // namespace

bool AcmMp3Decoder::Open(const FrameHeader& format) {
  Close();
  MPEGLAYER3WAVEFORMAT source{};
  source.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  source.wfx.nChannels = WORD(format.channels);
  source.wfx.nSamplesPerSec = DWORD(format.sampleRate);
  source.wfx.nAvgBytesPerSec = DWORD(format.bitrateKbps * 1000 / 8);
  source.wfx.nBlockAlign = 1;
  source.wfx.wBitsPerSample = 0;
  source.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  source.wID = MPEGLAYER3_ID_MPEG;
  source.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
  source.nBlockSize = WORD(format.frameBytes);
  source.nFramesPerBlock = 1;
  source.nCodecDelay = 0;

  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = WORD(format.channels);
  pcm.nSamplesPerSec = DWORD(format.sampleRate);
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = WORD(format.channels * 2);
  pcm.nAvgBytesPerSec = pcm.nSamplesPerSec * pcm.nBlockAlign;

  if (acmStreamOpen(&stream_, nullptr, &source.wfx, &pcm, nullptr, 0, 0,
                    ACM_STREAMOPENF_NONREALTIME) != 0) {
    stream_ = nullptr;
    return false;
  }
  DWORD outputBytes = 0;
  if (acmStreamSize(stream_, DWORD(kInputBytes), &outputBytes, ACM_STREAMSIZEF_SOURCE) != 0 ||
      outputBytes == 0) {
    // Ample for any Layer III input: at most 1152 samples per 24 bytes of frame.
    outputBytes = DWORD(kInputBytes / 24 * 1152 * 4);
  }
  input_.assign(kInputBytes, 0);
  output_.assign(outputBytes, 0);
  header_ = ACMSTREAMHEADER{};
  header_.cbStruct = sizeof(header_);
  header_.pbSrc = input_.data();
  header_.cbSrcLength = DWORD(input_.size());
  header_.pbDst = output_.data();
  header_.cbDstLength = DWORD(output_.size());
  if (acmStreamPrepareHeader(stream_, &header_, 0) != 0) {
    acmStreamClose(stream_, 0);
    stream_ = nullptr;
    return false;
  }
  pending_ = 0;
  return true;
}

void AcmMp3Decoder::Close() {
  if (stream_ == nullptr) return;
  header_.cbSrcLength = DWORD(input_.size());
  acmStreamUnprepareHeader(stream_, &header_, 0);
  acmStreamClose(stream_, 0);
  stream_ = nullptr;
  pending_ = 0;
}

bool AcmMp3Decoder::Convert(bool end, std::vector<std::int16_t>& pcm) {
  header_.cbSrcLength = DWORD(pending_);
  header_.cbSrcLengthUsed = 0;
  header_.cbDstLengthUsed = 0;
  DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN | (end ? ACM_STREAMCONVERTF_END : 0);
  if (acmStreamConvert(stream_, &header_, flags) != 0) return false;
  const std::size_t produced = header_.cbDstLengthUsed / sizeof(std::int16_t);
  const auto* samples = reinterpret_cast<const std::int16_t*>(output_.data());
  pcm.insert(pcm.end(), samples, samples + produced);
  // Whatever the codec left unconsumed stays at the front for the next call.
  const std::size_t used = std::min<std::size_t>(header_.cbSrcLengthUsed, pending_);
  std::memmove(input_.data(), input_.data() + used, pending_ - used);
  pending_ -= used;
  return used > 0 || produced > 0;
}

bool AcmMp3Decoder::Decode(const std::uint8_t* bytes, std::size_t count, bool end,
                           std::vector<std::int16_t>& pcm) {
  if (stream_ == nullptr) return false;
  while (count > 0) {
    const std::size_t room = input_.size() - pending_;
    const std::size_t take = std::min(room, count);
    std::memcpy(input_.data() + pending_, bytes, take);
    pending_ += take;
    bytes += take;
    count -= take;
    // A full buffer the codec makes no progress on would never drain: drop it.
    if (!Convert(false, pcm) && pending_ == input_.size()) pending_ = 0;
  }
  if (end) {
    // Give the codec every chance to empty itself, then flush.
    for (int i = 0; i < 4 && pending_ > 0; ++i) {
      if (!Convert(false, pcm)) break;
    }
    Convert(true, pcm);
    pending_ = 0;
  }
  return true;
}
