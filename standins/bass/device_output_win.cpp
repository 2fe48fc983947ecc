#include "standins/bass/device_output_win.h"

#include <algorithm>

namespace {

// A playing device that takes no sample for this long has gone (its sound server ended);
// the stream goes on against the silent clock rather than hang at a frozen position.
constexpr auto kDeviceStall = std::chrono::seconds(2);

}  // namespace

std::unique_ptr<DeviceOutput> DeviceOutput::Open(int sampleRate, int channels) {
  auto output = std::make_unique<DeviceOutput>();
  if (!output->device_.Open(sampleRate, channels)) return nullptr;
  return output;
}

void DeviceOutput::Collect(OutputFeed& feed) {
  device_.CollectPlayed([&](const std::int16_t* s, std::size_t n) { feed.capture.Heard(s, n); });
}

void DeviceOutput::Advance(OutputFeed& feed, std::int64_t) {
  Collect(feed);
  const auto bufferFrames = std::int64_t(device_.BufferFrames());
  while (feed.transport == Transport::Playing && device_.HasFreeBuffer()) {
    const std::int64_t frames = std::min(feed.pending.Frames(), bufferFrames);
    // Partial buffers only at the very end.
    if (frames == 0 || (frames < bufferFrames && !feed.decodeEnded)) break;
    feed.pending.Take(frames, feed.gain, feed.scratch);
    device_.Queue(feed.scratch.data(), std::size_t(frames));
  }
}

std::int64_t DeviceOutput::HeardFrame(const OutputFeed& feed) {
  // The device's count runs ahead of what is heard (Wine counts what it handed to the
  // sound server). The stream's last frame counts only once the stream has ended, with
  // every buffer back: a caller that moves on, or plays again, when the position reaches
  // the length neither cuts off the ending nor finds the stream still playing.
  const std::int64_t handedOn = feed.pending.FirstFrame();
  const bool lastQueued = feed.decodeEnded && feed.pending.Empty() && handedOn > base_;
  return std::min(base_ + device_.PlayedFrames(), handedOn - (lastQueued ? 1 : 0));
}

std::int64_t DeviceOutput::PlayedFrame(OutputFeed& feed, std::int64_t) {
  return feed.transport == Transport::Stopped ? held_ : HeardFrame(feed);
}

bool DeviceOutput::Lost(const OutputFeed& feed) {
  const auto now = std::chrono::steady_clock::now();
  // Only a device with samples still to play must move on; paused, idle or starved by a
  // slow download it rightly stands still.
  if (feed.transport != Transport::Playing || device_.Idle()) {
    progressAt_ = now;
    return false;
  }
  const std::int64_t count = device_.PlayedFrames();
  if (count != lastCount_) {
    lastCount_ = count;
    progressAt_ = now;
    return false;
  }
  return now - progressAt_ >= kDeviceStall;
}

void DeviceOutput::Stop(OutputFeed& feed, std::int64_t) {
  Collect(feed);
  held_ = HeardFrame(feed);
  // What was queued but not heard goes back in front of the pending samples; the history
  // still holds it as decoded.
  device_.Reset();
  const std::int64_t unheard = feed.pending.FirstFrame() - held_;
  if (unheard > 0) {
    std::vector<std::int16_t> back(std::size_t(unheard) * std::size_t(feed.pending.Channels()));
    feed.history.Copy(feed.pending.FirstFrame(), unheard, back.data());
    feed.pending.PutBack(back.data(), unheard);
  }
  base_ = held_;
}

void DeviceOutput::MoveTo(OutputFeed& feed, std::int64_t frame, std::int64_t) {
  Collect(feed);
  device_.Reset();
  base_ = frame;
  held_ = frame;
}

void DeviceOutput::End(OutputFeed& feed) {
  Collect(feed);
  held_ = feed.pending.FirstFrame();
}
