#pragma once
// MP3 to 16-bit PCM through the system's audio compression manager (msacm32) and its
// MPEG Layer-3 codec. Input may come in pieces of any size: bytes the codec does not
// take are kept for the next call.
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <cstdint>
#include <vector>

#include "standins/bass/mp3_frame.h"

class AcmMp3Decoder {
 public:
  AcmMp3Decoder() = default;
  AcmMp3Decoder(const AcmMp3Decoder&) = delete;
  AcmMp3Decoder& operator=(const AcmMp3Decoder&) = delete;
  ~AcmMp3Decoder() { Close(); }

  // Opens a conversion for frames like `format`; false when no codec takes them.
  bool Open(const FrameHeader& format);
  void Close();

  // Decodes `bytes` and appends the samples to `pcm`. `end`: no more input follows, so
  // the codec gives up what it holds back.
  bool Decode(const std::uint8_t* bytes, std::size_t count, bool end, std::vector<std::int16_t>& pcm);

 private:
  bool Convert(bool end, std::vector<std::int16_t>& pcm);

  HACMSTREAM stream_ = nullptr;
  ACMSTREAMHEADER header_{};
  std::vector<std::uint8_t> input_;   // the codec's source buffer
  std::vector<std::uint8_t> output_;
  std::size_t pending_ = 0;           // bytes waiting at the front of input_
};
