#include "standins/bass/pcm_history.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

PcmHistory::PcmHistory(int channels, std::int64_t capacityFrames)
    : channels_(channels),
      capacity_(capacityFrames),
      ring_(static_cast<std::size_t>(capacityFrames * channels), 0) {}

void PcmHistory::Append(const std::int16_t* samples, std::int64_t frames) {
  // Only the newest `capacity_` frames can survive.
  if (frames > capacity_) {
    samples += (frames - capacity_) * channels_;
    end_ += frames - capacity_;
    frames = capacity_;
  }
  for (std::int64_t i = 0; i < frames; ++i) {
    std::int64_t slot = (end_ + i) % capacity_;
    std::copy_n(samples + i * channels_, channels_, ring_.begin() + slot * channels_);
  }
  end_ += frames;
}

void PcmHistory::Reset(std::int64_t nextFrame) {
  std::fill(ring_.begin(), ring_.end(), std::int16_t{0});
  end_ = nextFrame;
}

void PcmHistory::Level(std::int64_t endFrame, std::int64_t frames, bool mono, bool rms,
                       float* levels) const {
  const int outputs = mono ? 1 : channels_;
  std::vector<double> peak(static_cast<std::size_t>(outputs), 0.0);
  std::vector<double> squares(static_cast<std::size_t>(outputs), 0.0);
  std::int64_t oldestHeld = std::max<std::int64_t>(0, end_ - capacity_);
  std::int64_t from = std::max(endFrame - frames, oldestHeld);
  std::int64_t to = std::min(endFrame, end_);
  for (std::int64_t f = from; f < to; ++f) {
    const std::int16_t* frame = ring_.data() + (f % capacity_) * channels_;
    for (int c = 0; c < channels_; ++c) {
      double value = std::abs(double(frame[c])) / 32768.0;
      std::size_t out = mono ? 0 : std::size_t(c);
      peak[out] = std::max(peak[out], value);
      squares[out] += value * value;
    }
  }
  for (int i = 0; i < outputs; ++i) {
    double count = double(std::max<std::int64_t>(frames, 1)) * (mono ? channels_ : 1);
    double value = rms ? std::sqrt(squares[std::size_t(i)] / count) : peak[std::size_t(i)];
    levels[i] = float(std::min(value, 1.0));
  }
}

void PcmHistory::Copy(std::int64_t endFrame, std::int64_t frames, std::int16_t* out) const {
  std::int64_t oldestHeld = std::max<std::int64_t>(0, end_ - capacity_);
  for (std::int64_t i = 0; i < frames; ++i) {
    std::int64_t f = endFrame - frames + i;
    std::int16_t* target = out + i * channels_;
    if (f < oldestHeld || f >= end_) {
      std::fill_n(target, channels_, std::int16_t{0});
    } else {
      std::copy_n(ring_.data() + (f % capacity_) * channels_, channels_, target);
    }
  }
}

void ApplyVolume(std::int16_t* samples, std::size_t count, float volume) {
  if (volume == 1.0f) return;
  // NaN is silence too; a huge gain clips, it never wraps.
  if (!(volume > 0.0f)) {
    std::fill_n(samples, count, std::int16_t{0});
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const double scaled = std::clamp(samples[i] * double(volume), -32768.0, 32767.0);
    samples[i] = static_cast<std::int16_t>(std::lround(scaled));
  }
}
