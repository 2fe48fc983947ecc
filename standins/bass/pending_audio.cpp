#include "standins/bass/pending_audio.h"

#include <algorithm>

#include "standins/bass/pcm_history.h"

void PendingAudio::Append(const std::int16_t* samples, std::size_t count) {
  samples_.insert(samples_.end(), samples, samples + count);
}

std::int64_t PendingAudio::Take(std::int64_t frames, float volume, std::vector<std::int16_t>& out) {
  const std::int64_t taken = std::clamp<std::int64_t>(frames, 0, Frames());
  const auto count = std::size_t(taken) * std::size_t(channels_);
  out.assign(samples_.begin(), samples_.begin() + std::ptrdiff_t(count));
  ApplyVolume(out.data(), count, volume);
  samples_.erase(samples_.begin(), samples_.begin() + std::ptrdiff_t(count));
  first_ += taken;
  return taken;
}

void PendingAudio::PutBack(const std::int16_t* samples, std::int64_t frames) {
  if (frames <= 0) return;
  samples_.insert(samples_.begin(), samples, samples + frames * channels_);
  first_ -= frames;
}

void PendingAudio::Reset(std::int64_t frame) {
  samples_.clear();
  first_ = frame;
}
