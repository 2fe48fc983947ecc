#pragma once
// The output of a stream that has no sound device: a real-time clock passes the samples
// at the stream's rate, and what it has passed counts as heard.
#include "standins/bass/audio_output.h"
#include "standins/bass/playback_clock.h"

class ClockOutput final : public AudioOutput {
 public:
  explicit ClockOutput(int sampleRate) : rate_(sampleRate), clock_(sampleRate) {}

  void Advance(OutputFeed& feed, std::int64_t nowMicros) override { Settle(feed, nowMicros); }
  std::int64_t PlayedFrame(OutputFeed& feed, std::int64_t nowMicros) override;
  bool Drained() override { return true; }
  bool Lost(const OutputFeed&) override { return false; }
  std::int64_t RestMicros(OutputFeed& feed, std::int64_t nowMicros) override;

  void Resume(OutputFeed&, std::int64_t nowMicros) override { clock_.Start(nowMicros); }
  void Pause(OutputFeed& feed, std::int64_t nowMicros) override;
  void Stop(OutputFeed& feed, std::int64_t nowMicros) override { Pause(feed, nowMicros); }
  void Settle(OutputFeed& feed, std::int64_t nowMicros) override;
  void MoveTo(OutputFeed&, std::int64_t frame, std::int64_t nowMicros) override {
    clock_.MoveTo(frame, nowMicros);
  }
  void End(OutputFeed&) override { clock_.Hold(); }

 private:
  int rate_;
  PlaybackClock clock_;
};
