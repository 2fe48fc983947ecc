#pragma once
// The real-time clock a stream plays against when no output device takes its samples:
// it lets sample frames through at the stream's rate, holds while paused, and when the
// decoded data runs short it stalls at the last frame there is and carries on from
// there, without a jump, once more arrives.
#include <cstdint>

class PlaybackClock {
 public:
  explicit PlaybackClock(int sampleRate) : rate_(sampleRate) {}

  // Starts (or resumes) counting at `nowMicros` from the current frame.
  void Start(std::int64_t nowMicros);
  // Holds the current frame; time passing no longer counts.
  void Hold();
  // Jumps to `frame` (a restart or a seek); keeps running if it was.
  void MoveTo(std::int64_t frame, std::int64_t nowMicros);

  // The frame reached at `nowMicros`, never beyond `available` (the frames decoded so
  // far). Running short of data re-anchors the clock there.
  std::int64_t Advance(std::int64_t nowMicros, std::int64_t available);

  std::int64_t Frame() const { return frame_; }

 private:
  int rate_;
  bool running_ = false;
  std::int64_t frame_ = 0;
  std::int64_t anchorMicros_ = 0;
  std::int64_t anchorFrame_ = 0;
};
