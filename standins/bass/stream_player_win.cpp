// The player side of a stream: the thread that decodes ahead and plays, and the transport
// and level calls that act on it.
#include <algorithm>
#include <cmath>

#include "standins/bass/stream_win.h"

namespace {

using namespace std::chrono_literals;

// Decoded audio kept ready ahead of what is heard.
constexpr int kLeadMs = 500;
// Frames handed to the codec at a time (about a quarter second at 128 kbps).
constexpr std::size_t kBatchBytes = 4096;
constexpr auto kTick = 10ms;
constexpr auto kFlushEvery = 250ms;
// A playing device that takes no sample for this long has gone (its sound server ended);
// the stream goes on against the silent clock rather than hang at a frozen position.
constexpr auto kDeviceStall = 2s;

}  // namespace

std::int64_t Stream::NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// --- player thread -----------------------------------------------------------------

void Stream::PlayerLoop() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    lock.unlock();
    const bool progressed = DecodeStep();
    lock.lock();
    if (quit_) break;
    OutputStep(NowMicros());
    if (!progressed) wake_.wait_for(lock, kTick);
  }
}

bool Stream::DecodeStep() {
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    if (reopenDecoder_) {
      reopenDecoder_ = false;
      // A fresh codec forgets the bit reservoir and filter state of the old position.
      decoder_.Open(format_);
      cursor_->MoveTo(seekOffset_);
      discard_ = seekDiscard_;
    }
    generation = generation_;
    const std::int64_t lead = std::int64_t(facts_.sampleRate) * kLeadMs / 1000;
    const auto pendingFrames = std::int64_t(pending_.size()) / facts_.channels;
    if (decodeEnded_ || pendingFrames >= lead) return false;
  }
  frameBytes_.clear();
  FrameBatch batch = cursor_->Next(file_, kBatchBytes, frameBytes_);
  if (batch.step == CursorStep::Wait) return false;
  const bool end = batch.step == CursorStep::End;
  decoded_.clear();
  decoder_.Decode(frameBytes_.data(), frameBytes_.size(), end, decoded_);

  std::lock_guard lock(mutex_);
  if (generation != generation_) return true;  // a restart or seek overtook this batch
  const std::size_t channels = std::size_t(facts_.channels);
  std::size_t skip = std::min(decoded_.size(), std::size_t(discard_) * channels);
  discard_ -= std::int64_t(skip / channels);
  const std::int16_t* samples = decoded_.data() + skip;
  const std::size_t count = decoded_.size() - skip;
  pending_.insert(pending_.end(), samples, samples + count);
  history_->Append(samples, std::int64_t(count / channels));
  decodePosition_ = cursor_->Position();
  if (end) {
    decodeEnded_ = true;
    // An estimated length, or one the file fell short of, becomes what was decoded.
    const std::int64_t decodedBytes = history_->EndFrame() * BytesPerSampleFrame(facts_);
    if (!lengthExact_ || !file_.Complete() || lengthBytes_ < 0) lengthBytes_ = decodedBytes;
  }
  return true;
}

void Stream::OutputStep(std::int64_t nowMicros) {
  const std::int64_t pendingFrames = std::int64_t(pending_.size()) / facts_.channels;
  if (!useDevice_) {
    // Frames the clock passed since the last step, whoever advanced it, are played now.
    const std::int64_t frame = clock_.Advance(nowMicros, pendingFrame_ + pendingFrames);
    EmitLocked(frame - pendingFrame_);
  } else if (DeviceStalledLocked()) {
    AbandonDeviceLocked(nowMicros);
  } else {
    device_.CollectPlayed([this](const std::int16_t* s, std::size_t n) { CaptureLocked(s, n); });
    while (state_ == State::Playing && device_.HasFreeBuffer()) {
      const std::int64_t available = std::int64_t(pending_.size()) / facts_.channels;
      const auto frames = std::min<std::int64_t>(available, std::int64_t(device_.BufferFrames()));
      // Partial buffers only at the very end.
      if (frames == 0 || (frames < std::int64_t(device_.BufferFrames()) && !decodeEnded_)) break;
      const std::size_t count = std::size_t(frames) * std::size_t(facts_.channels);
      scratch_.assign(pending_.begin(), pending_.begin() + std::ptrdiff_t(count));
      ApplyVolume(scratch_.data(), count, volume_ * OutputVolume().load());
      device_.Queue(scratch_.data(), std::size_t(frames));
      pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(count));
      pendingFrame_ += frames;
    }
  }
  if (state_ == State::Playing && decodeEnded_ && pending_.empty() &&
      (!useDevice_ || device_.Idle())) {
    if (useDevice_) device_.CollectPlayed([this](const std::int16_t* s, std::size_t n) { CaptureLocked(s, n); });
    ended_ = true;
    state_ = State::Stopped;
    heldFrame_ = pendingFrame_;
    clock_.Hold();
    capture_.Flush();
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - lastFlush_ >= kFlushEvery) {
    capture_.Flush();
    lastFlush_ = now;
  }
}

bool Stream::DeviceStalledLocked() {
  const auto now = std::chrono::steady_clock::now();
  // Only a device with samples still to play must move on; paused, idle or starved by a
  // slow download it rightly stands still.
  if (state_ != State::Playing || device_.Idle()) {
    deviceProgressAt_ = now;
    return false;
  }
  const std::int64_t count = device_.PlayedFrames();
  if (count != deviceCount_) {
    deviceCount_ = count;
    deviceProgressAt_ = now;
    return false;
  }
  return now - deviceProgressAt_ >= kDeviceStall;
}

void Stream::AbandonDeviceLocked(std::int64_t nowMicros) {
  // The samples the device took count as played; the rest go back in front of the
  // pending ones, and the clock carries on from there.
  HoldLocked(nowMicros);
  device_.Close();
  useDevice_ = false;
  clock_.MoveTo(heldFrame_, nowMicros);
  clock_.Start(nowMicros);
}

void Stream::EmitLocked(std::int64_t frames) {
  const std::size_t count =
      std::min(pending_.size(), std::size_t(std::max<std::int64_t>(frames, 0)) * std::size_t(facts_.channels));
  if (count == 0) return;
  scratch_.assign(pending_.begin(), pending_.begin() + std::ptrdiff_t(count));
  ApplyVolume(scratch_.data(), count, volume_ * OutputVolume().load());
  CaptureLocked(scratch_.data(), count);
  pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(count));
  pendingFrame_ += std::int64_t(count) / facts_.channels;
}

void Stream::CaptureLocked(const std::int16_t* samples, std::size_t count) {
  capture_.Append(samples, count);
}

// --- position and transport (mutex held) ---------------------------------------------

std::int64_t Stream::PlayedFrameLocked(std::int64_t nowMicros) {
  if (!useDevice_) {
    const std::int64_t pendingFrames = std::int64_t(pending_.size()) / facts_.channels;
    return clock_.Advance(nowMicros, pendingFrame_ + pendingFrames);
  }
  if (state_ == State::Stopped) return heldFrame_;
  // The device's count runs ahead of what is heard (Wine counts what it handed to the
  // sound server). The stream's last frame counts only once the stream has ended, with
  // every buffer back: a caller that moves on, or plays again, when the position reaches
  // the length neither cuts off the ending nor finds the stream still playing.
  const bool lastQueued = decodeEnded_ && pending_.empty() && pendingFrame_ > deviceBase_;
  return std::min(deviceBase_ + device_.PlayedFrames(), pendingFrame_ - (lastQueued ? 1 : 0));
}

void Stream::RestartLocked(std::int64_t frame, std::size_t fileOffset, std::int64_t discard) {
  if (!useDevice_) EmitLocked(PlayedFrameLocked(NowMicros()) - pendingFrame_);
  ++generation_;
  reopenDecoder_ = true;
  seekOffset_ = fileOffset;
  seekDiscard_ = discard;
  pending_.clear();
  pendingFrame_ = frame;
  decodeEnded_ = false;
  ended_ = false;
  decodePosition_ = fileOffset;
  history_->Reset(frame);
  clock_.MoveTo(frame, NowMicros());
  if (useDevice_) {
    device_.CollectPlayed([this](const std::int16_t* s, std::size_t n) { CaptureLocked(s, n); });
    device_.Reset();
  }
  deviceBase_ = frame;
  heldFrame_ = frame;
  wake_.notify_all();
}

void Stream::HoldLocked(std::int64_t nowMicros) {
  if (!useDevice_) {
    EmitLocked(PlayedFrameLocked(nowMicros) - pendingFrame_);
    clock_.Hold();
    return;
  }
  device_.CollectPlayed([this](const std::int16_t* s, std::size_t n) { CaptureLocked(s, n); });
  heldFrame_ = PlayedFrameLocked(nowMicros);
  // What was queued but not heard goes back in front of the pending samples; the history
  // still holds it as decoded.
  device_.Reset();
  const std::int64_t unheard = pendingFrame_ - heldFrame_;
  if (unheard > 0) {
    std::vector<std::int16_t> back(std::size_t(unheard) * std::size_t(facts_.channels));
    history_->Copy(pendingFrame_, unheard, back.data());
    pending_.insert(pending_.begin(), back.begin(), back.end());
  }
  pendingFrame_ = heldFrame_;
  deviceBase_ = heldFrame_;
}

void Stream::ResumeLocked(std::int64_t nowMicros) {
  if (!useDevice_) {
    clock_.Start(nowMicros);
  } else {
    device_.Resume();
  }
  wake_.notify_all();
}

bool Stream::Play(bool restart) {
  std::lock_guard lock(mutex_);
  if (restart || ended_) RestartLocked(0, firstAudioFrame_, 0);
  if (state_ == State::Playing) return true;
  state_ = State::Playing;
  ResumeLocked(NowMicros());
  return true;
}

void Stream::Stop() {
  std::lock_guard lock(mutex_);
  if (state_ == State::Stopped) return;
  HoldLocked(NowMicros());
  state_ = State::Stopped;
  capture_.Flush();
}

bool Stream::Pause(int* error) {
  std::lock_guard lock(mutex_);
  if (state_ != State::Playing) {
    *error = state_ == State::Paused ? BASS_ERROR_ALREADY : BASS_ERROR_NOPLAY;
    return false;
  }
  const std::int64_t now = NowMicros();
  if (useDevice_) {
    device_.Pause();
  } else {
    EmitLocked(PlayedFrameLocked(now) - pendingFrame_);
    clock_.Hold();
  }
  state_ = State::Paused;
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
  if (state_ == State::Playing && useDevice_) device_.Resume();
  return true;
}

std::int64_t Stream::Position(bool decoded) {
  std::lock_guard lock(mutex_);
  const std::int64_t frame =
      decoded ? pendingFrame_ + std::int64_t(pending_.size()) / facts_.channels
              : PlayedFrameLocked(NowMicros());
  return frame * BytesPerSampleFrame(facts_);
}

DWORD Stream::Active() {
  std::lock_guard lock(mutex_);
  switch (state_) {
    case State::Playing:
      return pending_.empty() && !decodeEnded_ ? BASS_ACTIVE_STALLED : BASS_ACTIVE_PLAYING;
    case State::Paused:
      return BASS_ACTIVE_PAUSED;
    default:
      return BASS_ACTIVE_STOPPED;
  }
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
  if (state_ != State::Playing) {
    *error = BASS_ERROR_NOPLAY;
    return false;
  }
  const std::int64_t played = PlayedFrameLocked(NowMicros());
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
  if (length == BASS_DATA_AVAILABLE) return DWORD(pending_.size() * sizeof(std::int16_t));
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
  history_->Copy(PlayedFrameLocked(NowMicros()), frames, recent.data());
  if (asFloat) {
    auto* out = static_cast<float*>(buffer);
    for (std::size_t i = 0; i < recent.size(); ++i) out[i] = recent[i] / 32768.0f;
  } else {
    std::copy(recent.begin(), recent.end(), static_cast<std::int16_t*>(buffer));
  }
  return DWORD(recent.size() * sampleSize);
}
