#pragma once
// The output of a stream through the system's default sound device (waveOut). A sample
// counts as heard when the device hands its buffer back; the position is the device's
// own count.
#include <chrono>
#include <memory>

#include "standins/bass/audio_output.h"
#include "standins/bass/wave_output_win.h"

class DeviceOutput final : public AudioOutput {
 public:
  // Null when no output device opens (as on a machine without sound).
  static std::unique_ptr<DeviceOutput> Open(int sampleRate, int channels);

  void Advance(OutputFeed& feed, std::int64_t nowMicros) override;
  std::int64_t PlayedFrame(OutputFeed& feed, std::int64_t nowMicros) override;
  bool Drained() override { return device_.Idle(); }
  bool Lost(const OutputFeed& feed) override;
  // The device hands its buffers back one by one; each is refilled as soon as it returns.
  std::int64_t RestMicros(OutputFeed&, std::int64_t) override { return 10'000; }

  void Resume(OutputFeed&, std::int64_t) override { device_.Resume(); }
  void Pause(OutputFeed&, std::int64_t) override { device_.Pause(); }
  void Stop(OutputFeed& feed, std::int64_t nowMicros) override;
  void Settle(OutputFeed& feed, std::int64_t) override { Collect(feed); }
  void MoveTo(OutputFeed& feed, std::int64_t frame, std::int64_t nowMicros) override;
  void End(OutputFeed& feed) override;

 private:
  void Collect(OutputFeed& feed);
  std::int64_t HeardFrame(const OutputFeed& feed);

  WaveOutput device_;
  std::int64_t base_ = 0;       // the frame at which the device's count began
  std::int64_t held_ = 0;       // the position while stopped
  std::int64_t lastCount_ = -1;  // the device's count when it last moved on
  std::chrono::steady_clock::time_point progressAt_;
};
