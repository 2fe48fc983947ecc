#include "standins/bass/playback_clock.h"

void PlaybackClock::Start(std::int64_t nowMicros) {
  running_ = true;
  anchorMicros_ = nowMicros;
  anchorFrame_ = frame_;
}

void PlaybackClock::Hold() { running_ = false; }

void PlaybackClock::MoveTo(std::int64_t frame, std::int64_t nowMicros) {
  frame_ = frame;
  anchorFrame_ = frame;
  anchorMicros_ = nowMicros;
}

std::int64_t PlaybackClock::Advance(std::int64_t nowMicros, std::int64_t available) {
  if (!running_) return frame_;
  // Whole frames since the anchor; computing from the anchor keeps rounding from drifting.
  std::int64_t elapsed = nowMicros - anchorMicros_;
  if (elapsed < 0) elapsed = 0;
  std::int64_t due = anchorFrame_ + elapsed * rate_ / 1000000;
  if (due > available) {
    due = available < frame_ ? frame_ : available;
    anchorFrame_ = due;
    anchorMicros_ = nowMicros;
  }
  frame_ = due;
  return frame_;
}
