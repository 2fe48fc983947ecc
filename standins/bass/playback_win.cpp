#include "standins/bass/playback_win.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "audio/bass_api.h"
#include "standins/bass/clock_output.h"
#include "standins/bass/device_output_win.h"

namespace {

// The level may look back a second behind a decoder that runs ahead.
constexpr int kHistorySeconds = 3;

std::unique_ptr<AudioOutput> OpenOutput(bool silent, const StreamFacts& facts) {
  std::unique_ptr<AudioOutput> output;
  if (!silent) output = DeviceOutput::Open(facts.sampleRate, facts.channels);
  if (!output) output = std::make_unique<ClockOutput>(facts.sampleRate);
  return output;
}

}  // namespace

std::atomic<float>& OutputVolume() {
  static std::atomic<float> volume{1.0f};
  return volume;
}

Playback::Playback(const StreamFacts& facts, bool silent, [[maybe_unused]] const std::string& capturePath)
    : facts_(facts),
      feed_(facts.channels, std::int64_t(facts.sampleRate) * kHistorySeconds),
      output_(OpenOutput(silent, facts)) {
#if TUNER_TEST_BUILD
  feed_.capture.Open(capturePath, facts.sampleRate, facts.channels);
#endif
}

OutputFeed& Playback::Feed() {
  feed_.gain = volume_ * OutputVolume().load();
  return feed_;
}

void Playback::Close(std::int64_t nowMicros) {
  if (output_) output_->Settle(Feed(), nowMicros);
  output_.reset();
  feed_.capture.Close();
}

// --- from the decoding thread --------------------------------------------------------

void Playback::Append(const std::int16_t* samples, std::size_t count) {
  feed_.pending.Append(samples, count);
  feed_.history.Append(samples, std::int64_t(count) / facts_.channels);
}

std::int64_t Playback::EndOfDecoding() {
  feed_.decodeEnded = true;
  return feed_.history.EndFrame();
}

void Playback::Advance(std::int64_t nowMicros) {
  if (output_->Lost(Feed())) FallBackToClock(nowMicros);
  output_->Advance(Feed(), nowMicros);
  if (Playing() && feed_.decodeEnded && feed_.pending.Empty() && output_->Drained()) EndLocked();
  feed_.capture.FlushWhenDue();
}

std::int64_t Playback::RestMicros(std::int64_t nowMicros) {
  return feed_.capture.RestMicros(output_->RestMicros(Feed(), nowMicros));
}

void Playback::EndHere() {
  feed_.decodeEnded = true;
  EndLocked();
}

void Playback::EndLocked() {
  output_->End(Feed());
  ended_ = true;
  feed_.transport = Transport::Stopped;
  feed_.capture.Flush();
}

void Playback::FallBackToClock(std::int64_t nowMicros) {
  // What the device took counts as played; the rest goes back in front of the pending
  // samples, and a clock carries on from there.
  output_->Stop(Feed(), nowMicros);
  output_ = std::make_unique<ClockOutput>(facts_.sampleRate);
  output_->MoveTo(Feed(), feed_.pending.FirstFrame(), nowMicros);
  output_->Resume(Feed(), nowMicros);
}

// --- transport -----------------------------------------------------------------------

void Playback::Play(std::int64_t nowMicros) {
  if (Playing()) return;
  feed_.transport = Transport::Playing;
  output_->Resume(Feed(), nowMicros);
}

void Playback::Stop(std::int64_t nowMicros) {
  if (feed_.transport == Transport::Stopped) return;
  output_->Stop(Feed(), nowMicros);
  feed_.transport = Transport::Stopped;
  feed_.capture.Flush();
}

bool Playback::Pause(std::int64_t nowMicros, int* error) {
  if (!Playing()) {
    *error = feed_.transport == Transport::Paused ? BASS_ERROR_ALREADY : BASS_ERROR_NOPLAY;
    return false;
  }
  output_->Pause(Feed(), nowMicros);
  feed_.transport = Transport::Paused;
  feed_.capture.Flush();
  return true;
}

void Playback::Jump(std::int64_t frame, std::int64_t nowMicros) {
  output_->Settle(Feed(), nowMicros);
  feed_.pending.Reset(frame);
  feed_.decodeEnded = false;
  ended_ = false;
  feed_.history.Reset(frame);
  output_->MoveTo(Feed(), frame, nowMicros);
  if (Playing()) output_->Resume(Feed(), nowMicros);
}

// --- what is heard -------------------------------------------------------------------

std::int64_t Playback::PlayedFrame(std::int64_t nowMicros) {
  return output_->PlayedFrame(Feed(), nowMicros);
}

bool Playback::Level(float* levels, float seconds, DWORD flags, std::int64_t nowMicros,
                     int* error) {
  const bool mono = (flags & BASS_LEVEL_MONO) != 0;
  const bool stereo = !mono && (flags & BASS_LEVEL_STEREO) != 0;
  const int outputs = mono ? 1 : stereo ? 2 : facts_.channels;
  std::fill_n(levels, outputs, 0.0f);
  if (!(seconds > 0.0f && seconds <= 1.0f)) {
    *error = BASS_ERROR_ILLPARAM;
    return false;
  }
  if (!Playing()) {
    *error = BASS_ERROR_NOPLAY;
    return false;
  }
  const std::int64_t played = PlayedFrame(nowMicros);
  const auto frames = std::int64_t(std::llround(double(seconds) * facts_.sampleRate));
  const bool rms = (flags & BASS_LEVEL_RMS) != 0;
  feed_.history.Level(played, frames, mono, rms, levels);
  if (stereo && facts_.channels == 1) levels[1] = levels[0];
  if (flags & BASS_LEVEL_VOLPAN) {
    for (int i = 0; i < outputs; ++i) levels[i] = std::min(levels[i] * volume_, 1.0f);
  }
  return true;
}

DWORD Playback::RecentSamples(void* buffer, DWORD length, std::int64_t nowMicros) {
  const bool asFloat = (length & BASS_DATA_FLOAT) != 0;
  const DWORD bytes = length & ~BASS_DATA_FLOAT;
  const std::size_t sampleSize = asFloat ? sizeof(float) : sizeof(std::int16_t);
  const std::int64_t frames = bytes / (sampleSize * std::size_t(facts_.channels));
  std::vector<std::int16_t> recent(std::size_t(frames) * std::size_t(facts_.channels));
  feed_.history.Copy(PlayedFrame(nowMicros), frames, recent.data());
  if (asFloat) {
    auto* out = static_cast<float*>(buffer);
    for (std::size_t i = 0; i < recent.size(); ++i) out[i] = recent[i] / 32768.0f;
  } else {
    std::copy(recent.begin(), recent.end(), static_cast<std::int16_t*>(buffer));
  }
  return DWORD(recent.size() * sampleSize);
}

void Playback::SetVolume(float volume) { volume_ = std::max(volume, 0.0f); }
