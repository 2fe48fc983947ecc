#include "standins/bass/clock_output.h"

std::int64_t ClockOutput::PlayedFrame(OutputFeed& feed, std::int64_t nowMicros) {
  return clock_.Advance(nowMicros, feed.pending.EndFrame());
}

void ClockOutput::Settle(OutputFeed& feed, std::int64_t nowMicros) {
  // Frames the clock passed since the last look, whoever looked, are heard now.
  const std::int64_t frame = PlayedFrame(feed, nowMicros);
  if (feed.pending.Take(frame - feed.pending.FirstFrame(), feed.gain, feed.scratch) > 0) {
    feed.capture.Heard(feed.scratch.data(), feed.scratch.size());
  }
}

std::int64_t ClockOutput::RestMicros(OutputFeed& feed, std::int64_t nowMicros) {
  // A clock needs nobody to feed it: the player comes back while a quarter second of
  // decoded audio is still in hand, to decode more, or just after the last sample, to end
  // the stream. Woken ten times less often than a device needs, a playing stream costs
  // its process next to nothing between batches. Short of data it looks again soon.
  constexpr std::int64_t kShortest = 10'000;
  constexpr std::int64_t kLongest = 250'000;
  constexpr std::int64_t kInHand = 250'000;
  if (feed.transport != Transport::Playing || rate_ <= 0) return kLongest;
  const std::int64_t frames = feed.pending.EndFrame() - PlayedFrame(feed, nowMicros);
  const std::int64_t left = frames * 1'000'000 / rate_;
  const std::int64_t rest = feed.decodeEnded ? left + 1'000 : left - kInHand;
  return rest < kShortest ? kShortest : rest > kLongest ? kLongest : rest;
}

void ClockOutput::Pause(OutputFeed& feed, std::int64_t nowMicros) {
  Settle(feed, nowMicros);
  clock_.Hold();
}
