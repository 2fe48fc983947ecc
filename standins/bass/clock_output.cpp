#include "standins/bass/clock_output.h"

std::int64_t ClockOutput::PlayedFrame(OutputFeed& feed, std::int64_t nowMicros) {
  return clock_.Advance(nowMicros, feed.pending.EndFrame());
}

void ClockOutput::Settle(OutputFeed& feed, std::int64_t nowMicros) {
  // Frames the clock passed since the last look, whoever looked, are heard now.
  const std::int64_t frame = PlayedFrame(feed, nowMicros);
  if (feed.pending.Take(frame - feed.pending.FirstFrame(), feed.volume, feed.scratch) > 0) {
    feed.capture.Append(feed.scratch.data(), feed.scratch.size());
  }
}

void ClockOutput::Pause(OutputFeed& feed, std::int64_t nowMicros) {
  Settle(feed, nowMicros);
  clock_.Hold();
}
