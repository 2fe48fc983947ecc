#pragma once
// The decoded samples of a stream that its output has not taken yet, before volume, and
// the number of the sample frame the first of them is.
#include <cstdint>
#include <deque>
#include <vector>

class PendingAudio {
 public:
  explicit PendingAudio(int channels) : channels_(channels) {}

  int Channels() const { return channels_; }
  std::int64_t FirstFrame() const { return first_; }
  std::int64_t Frames() const { return std::int64_t(samples_.size()) / channels_; }
  std::int64_t EndFrame() const { return first_ + Frames(); }
  std::size_t Samples() const { return samples_.size(); }
  bool Empty() const { return samples_.empty(); }

  void Append(const std::int16_t* samples, std::size_t count);
  // Moves up to `frames` frames off the front into `out` (its old contents replaced),
  // scaled by `volume`; returns how many frames that was.
  std::int64_t Take(std::int64_t frames, float volume, std::vector<std::int16_t>& out);
  // Puts frames back in front: the first frame's number moves back by their count.
  void PutBack(const std::int16_t* samples, std::int64_t frames);
  // Forgets everything; the next frame appended is number `frame`.
  void Reset(std::int64_t frame);

 private:
  int channels_;
  std::deque<std::int16_t> samples_;
  std::int64_t first_ = 0;
};
