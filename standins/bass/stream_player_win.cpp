// The player side of a stream: the thread that decodes ahead and feeds the output, and
// the transport and level calls that act on it.
#include <algorithm>
#include <cmath>

#include "standins/bass/clock_output.h"
#include "standins/bass/stream_win.h"

namespace {

using namespace std::chrono_literals;

// Decoded audio kept ready ahead of what is heard.
constexpr int kLeadMs = 500;
// Frames handed to the codec at a time (about a quarter second at 128 kbps).
constexpr std::size_t kBatchBytes = 4096;
constexpr auto kFlushEvery = 250ms;

}  // namespace

std::int64_t Stream::NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

OutputFeed Stream::FeedLocked() {
  return OutputFeed{pending_,  *history_,  capture_,     scratch_,
                    volume_ * OutputVolume().load(), transport_, decodeEnded_};
}

// --- player thread -----------------------------------------------------------------

void Stream::PlayerLoop() {
  try {
    std::unique_lock lock(mutex_);
    while (!quit_) {
      lock.unlock();
      const bool progressed = DecodeStep();
      lock.lock();
      if (quit_) break;
      const std::int64_t now = NowMicros();
      OutputStepLocked(now);
      if (!progressed) wake_.wait_for(lock, std::chrono::microseconds(RestMicrosLocked(now)));
    }
  } catch (...) {
    // Out of memory, say: the song ends where it is; the program that plays it goes on.
    std::lock_guard lock(mutex_);
    decodeEnded_ = true;
    EndLocked();
  }
}

bool Stream::DecodeStep() {
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    if (jump_.pending) {
      jump_.pending = false;
      // A fresh codec forgets the bit reservoir and filter state of the old position.
      decoding_.decoder.Open(format_);
      decoding_.cursor->MoveTo(jump_.fileOffset);
      decoding_.discard = jump_.discard;
    }
    generation = generation_;
    const std::int64_t lead = std::int64_t(facts_.sampleRate) * kLeadMs / 1000;
    if (decodeEnded_ || pending_.Frames() >= lead) return false;
  }
  decoding_.frameBytes.clear();
  FrameBatch batch = decoding_.cursor->Next(file_, kBatchBytes, decoding_.frameBytes);
  if (batch.step == CursorStep::Wait) return false;
  const bool end = batch.step == CursorStep::End;
  decoding_.samples.clear();
  decoding_.decoder.Decode(decoding_.frameBytes.data(), decoding_.frameBytes.size(), end,
                           decoding_.samples);

  std::lock_guard lock(mutex_);
  if (generation != generation_) return true;  // a restart or seek overtook this batch
  const auto channels = std::size_t(facts_.channels);
  const std::size_t skip =
      std::min(decoding_.samples.size(), std::size_t(decoding_.discard) * channels);
  decoding_.discard -= std::int64_t(skip / channels);
  const std::int16_t* samples = decoding_.samples.data() + skip;
  const std::size_t count = decoding_.samples.size() - skip;
  pending_.Append(samples, count);
  history_->Append(samples, std::int64_t(count / channels));
  decodePosition_ = decoding_.cursor->Position();
  if (end) {
    decodeEnded_ = true;
    // An estimated length, or one the file fell short of, becomes what was decoded.
    const std::int64_t decodedBytes = history_->EndFrame() * BytesPerSampleFrame(facts_);
    if (!lengthExact_ || !file_.Complete() || lengthBytes_ < 0) lengthBytes_ = decodedBytes;
  }
  return true;
}

void Stream::OutputStepLocked(std::int64_t nowMicros) {
  if (output_->Lost(FeedLocked())) FallBackToClockLocked(nowMicros);
  OutputFeed feed = FeedLocked();
  output_->Advance(feed, nowMicros);
  if (transport_ == Transport::Playing && decodeEnded_ && pending_.Empty() && output_->Drained()) {
    EndLocked();
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - lastFlush_ >= kFlushEvery) {
    capture_.Flush();
    lastFlush_ = now;
  }
}

std::int64_t Stream::RestMicrosLocked(std::int64_t nowMicros) {
  OutputFeed feed = FeedLocked();
  std::int64_t rest = output_->RestMicros(feed, nowMicros);
  if (capture_.IsOpen()) {
    // A capture is written out on time, holding everything heard until then.
    const auto untilFlush = std::chrono::duration_cast<std::chrono::microseconds>(
        lastFlush_ + kFlushEvery - std::chrono::steady_clock::now());
    rest = std::min<std::int64_t>(rest, std::max<std::int64_t>(untilFlush.count(), 1'000));
  }
  return rest;
}

void Stream::EndLocked() {
  OutputFeed feed = FeedLocked();
  output_->End(feed);
  ended_ = true;
  transport_ = Transport::Stopped;
  capture_.Flush();
}

void Stream::FallBackToClockLocked(std::int64_t nowMicros) {
  // What the device took counts as played; the rest goes back in front of the pending
  // samples, and a clock carries on from there.
  OutputFeed feed = FeedLocked();
  output_->Stop(feed, nowMicros);
  output_ = std::make_unique<ClockOutput>(facts_.sampleRate);
  output_->MoveTo(feed, pending_.FirstFrame(), nowMicros);
  output_->Resume(feed, nowMicros);
}

// --- position and transport ----------------------------------------------------------

void Stream::RestartLocked(std::int64_t frame, std::size_t fileOffset, std::int64_t discard) {
  const std::int64_t now = NowMicros();
  {
    OutputFeed before = FeedLocked();
    output_->Settle(before, now);
  }
  ++generation_;
  jump_ = Jump{true, fileOffset, discard};
  pending_.Reset(frame);
  decodeEnded_ = false;
  ended_ = false;
  decodePosition_ = fileOffset;
  history_->Reset(frame);
  OutputFeed feed = FeedLocked();
  output_->MoveTo(feed, frame, now);
  wake_.notify_all();
}

void Stream::Play(bool restart) {
  std::lock_guard lock(mutex_);
  if (restart || ended_) RestartLocked(0, firstAudioFrame_, 0);
  if (transport_ == Transport::Playing) return;
  transport_ = Transport::Playing;
  OutputFeed feed = FeedLocked();
  output_->Resume(feed, NowMicros());
  wake_.notify_all();
}

void Stream::Stop() {
  std::lock_guard lock(mutex_);
  if (transport_ == Transport::Stopped) return;
  OutputFeed feed = FeedLocked();
  output_->Stop(feed, NowMicros());
  transport_ = Transport::Stopped;
  capture_.Flush();
}

bool Stream::Pause(int* error) {
  std::lock_guard lock(mutex_);
  if (transport_ != Transport::Playing) {
    *error = transport_ == Transport::Paused ? BASS_ERROR_ALREADY : BASS_ERROR_NOPLAY;
    return false;
  }
  OutputFeed feed = FeedLocked();
  output_->Pause(feed, NowMicros());
  transport_ = Transport::Paused;
  capture_.Flush();
  return true;
}

bool Stream::SetPosition(std::int64_t bytes, int* error) {
  const std::int64_t bytesPerFrame = BytesPerSampleFrame(facts_);
  const std::int64_t frame = bytes / bytesPerFrame;
  const std::int64_t length = Length();
  if (bytes < 0 || (length >= 0 && bytes > length)) {
    *error = BASS_ERROR_POSITION;
    return false;
  }
  std::size_t offset = firstAudioFrame_;
  std::int64_t discard = 0;
  if (frame > 0) {
    // Decoding starts at the frame that holds the position and drops what comes before.
    const std::int64_t index = frame / format_.samplesPerFrame;
    const std::int64_t found = FindFrameOffset(file_, format_, firstAudioFrame_, index);
    if (found < 0) {
      *error = BASS_ERROR_POSITION;  // not downloaded yet
      return false;
    }
    offset = std::size_t(found);
    discard = frame - index * format_.samplesPerFrame;
  }
  std::lock_guard lock(mutex_);
  RestartLocked(frame, offset, discard);
  if (transport_ == Transport::Playing) {
    OutputFeed feed = FeedLocked();
    output_->Resume(feed, NowMicros());
  }
  return true;
}

std::int64_t Stream::Position(bool decoded) {
  std::lock_guard lock(mutex_);
  OutputFeed feed = FeedLocked();
  const std::int64_t frame = decoded ? pending_.EndFrame() : output_->PlayedFrame(feed, NowMicros());
  return frame * BytesPerSampleFrame(facts_);
}

// --- levels and sample data ---------------------------------------------------------

bool Stream::Level(float* levels, float seconds, DWORD flags, int* error) {
  const bool mono = (flags & BASS_LEVEL_MONO) != 0;
  const bool stereo = !mono && (flags & BASS_LEVEL_STEREO) != 0;
  const int outputs = mono ? 1 : stereo ? 2 : facts_.channels;
  std::fill_n(levels, outputs, 0.0f);
  if (!(seconds > 0.0f && seconds <= 1.0f)) {
    *error = BASS_ERROR_ILLPARAM;
    return false;
  }
  std::lock_guard lock(mutex_);
  if (transport_ != Transport::Playing) {
    *error = BASS_ERROR_NOPLAY;
    return false;
  }
  OutputFeed feed = FeedLocked();
  const std::int64_t played = output_->PlayedFrame(feed, NowMicros());
  const auto frames = std::int64_t(std::llround(double(seconds) * facts_.sampleRate));
  const bool rms = (flags & BASS_LEVEL_RMS) != 0;
  history_->Level(played, frames, mono, rms, levels);
  if (stereo && facts_.channels == 1) levels[1] = levels[0];
  if (flags & BASS_LEVEL_VOLPAN) {
    for (int i = 0; i < outputs; ++i) levels[i] = std::min(levels[i] * volume_, 1.0f);
  }
  return true;
}

DWORD Stream::LevelWord(int* error) {
  float levels[2] = {};
  if (!Level(levels, 0.02f, BASS_LEVEL_STEREO, error)) return DWORD(-1);
  const auto scale = [](float v) { return DWORD(std::lround(std::min(v, 1.0f) * 32768)); };
  return scale(levels[0]) | (scale(levels[1]) << 16);
}

DWORD Stream::Data(void* buffer, DWORD length, int* error) {
  std::lock_guard lock(mutex_);
  if (length == BASS_DATA_AVAILABLE) return DWORD(pending_.Samples() * sizeof(std::int16_t));
  if (length & (BASS_DATA_FFT256 | BASS_DATA_FIXED)) {
    *error = BASS_ERROR_ILLPARAM;  // spectra are not offered
    return DWORD(-1);
  }
  if (buffer == nullptr) {
    *error = BASS_ERROR_ILLPARAM;
    return DWORD(-1);
  }
  const bool asFloat = (length & BASS_DATA_FLOAT) != 0;
  const DWORD bytes = length & ~BASS_DATA_FLOAT;
  const std::size_t sampleSize = asFloat ? sizeof(float) : sizeof(std::int16_t);
  const std::int64_t frames = bytes / (sampleSize * std::size_t(facts_.channels));
  std::vector<std::int16_t> recent(std::size_t(frames) * std::size_t(facts_.channels));
  OutputFeed feed = FeedLocked();
  history_->Copy(output_->PlayedFrame(feed, NowMicros()), frames, recent.data());
  if (asFloat) {
    auto* out = static_cast<float*>(buffer);
    for (std::size_t i = 0; i < recent.size(); ++i) out[i] = recent[i] / 32768.0f;
  } else {
    std::copy(recent.begin(), recent.end(), static_cast<std::int16_t*>(buffer));
  }
  return DWORD(recent.size() * sampleSize);
}
