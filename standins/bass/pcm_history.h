#pragma once
// The recent past of a stream's 16-bit PCM, kept as decoded (before volume), so that the
// level of what is being heard can be read for any stretch up to the history's length.
// Samples are addressed by their absolute sample-frame number since the stream began.
#include <cstdint>
#include <vector>

class PcmHistory {
 public:
  PcmHistory(int channels, std::int64_t capacityFrames);

  // Appends interleaved frames that follow the last one appended.
  void Append(const std::int16_t* samples, std::int64_t frames);
  // Forgets everything; the next frame appended gets number `nextFrame`.
  void Reset(std::int64_t nextFrame);
  std::int64_t EndFrame() const { return end_; }

  // Peak (or RMS) over the frames [endFrame - frames, endFrame) that are still held, as
  // a share of full scale (0..1). `mono` merges the channels (the louder of them for
  // the peak, all samples for the RMS); otherwise `levels` gets one value per channel.
  // Frames no longer (or not yet) held count as silence.
  void Level(std::int64_t endFrame, std::int64_t frames, bool mono, bool rms,
             float* levels) const;
  // Copies the interleaved samples of [endFrame - frames, endFrame) that are held into
  // `out` (zeros for the rest).
  void Copy(std::int64_t endFrame, std::int64_t frames, std::int16_t* out) const;

 private:
  int channels_;
  std::int64_t capacity_;
  std::vector<std::int16_t> ring_;
  std::int64_t end_ = 0;  // number of the frame after the newest
};

// Scales interleaved samples by `volume` in place, clipping to the 16-bit range.
void ApplyVolume(std::int16_t* samples, std::size_t count, float volume);
