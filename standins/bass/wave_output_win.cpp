#include "standins/bass/wave_output_win.h"

#include <algorithm>

namespace {

// Four buffers of 100 ms: enough to ride over a busy moment, short enough that a pause
// or a volume change is heard soon.
constexpr int kBuffers = 4;
constexpr int kBufferMs = 100;

}  // namespace

bool WaveOutput::Open(int sampleRate, int channels) {
  Close();
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = WORD(channels);
  format.nSamplesPerSec = DWORD(sampleRate);
  format.wBitsPerSample = 16;
  format.nBlockAlign = WORD(channels * 2);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  event_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!event_) return false;
  HWAVEOUT device = nullptr;
  if (waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(event_.get()), 0,
                  CALLBACK_EVENT) != MMSYSERR_NOERROR) {
    event_.reset();
    return false;
  }
  device_.reset(device);
  channels_ = channels;
  bufferFrames_ = std::size_t(sampleRate) * kBufferMs / 1000;
  buffers_.resize(kBuffers);
  for (Buffer& b : buffers_) {
    b.samples.assign(bufferFrames_ * std::size_t(channels), 0);
    b.header = WAVEHDR{};
    b.header.lpData = reinterpret_cast<LPSTR>(b.samples.data());
    b.header.dwBufferLength = DWORD(b.samples.size() * sizeof(std::int16_t));
    waveOutPrepareHeader(device_.get(), &b.header, sizeof(WAVEHDR));
  }
  next_ = oldest_ = 0;
  queuedFrames_ = 0;
  return true;
}

void WaveOutput::Close() {
  if (!device_) return;
  waveOutReset(device_.get());
  for (Buffer& b : buffers_) {
    b.header.dwBufferLength = DWORD(b.samples.size() * sizeof(std::int16_t));
    waveOutUnprepareHeader(device_.get(), &b.header, sizeof(WAVEHDR));
  }
  device_.reset();
  buffers_.clear();
  event_.reset();
}

bool WaveOutput::HasFreeBuffer() { return device_ && !buffers_[next_].queued; }

void WaveOutput::Queue(const std::int16_t* samples, std::size_t frames) {
  Buffer& b = buffers_[next_];
  frames = std::min(frames, bufferFrames_);
  std::copy_n(samples, frames * std::size_t(channels_), b.samples.begin());
  b.header.dwBufferLength = DWORD(frames * std::size_t(channels_) * sizeof(std::int16_t));
  b.header.dwFlags &= ~WHDR_DONE;
  b.queued = true;
  waveOutWrite(device_.get(), &b.header, sizeof(WAVEHDR));
  queuedFrames_ += std::int64_t(frames);
  next_ = (next_ + 1) % buffers_.size();
}

void WaveOutput::CollectPlayed(
    const std::function<void(const std::int16_t*, std::size_t)>& played) {
  while (device_ && buffers_[oldest_].queued &&
         (buffers_[oldest_].header.dwFlags & WHDR_DONE)) {
    Buffer& b = buffers_[oldest_];
    b.queued = false;
    played(b.samples.data(), b.header.dwBufferLength / sizeof(std::int16_t));
    oldest_ = (oldest_ + 1) % buffers_.size();
  }
}

std::int64_t WaveOutput::PlayedFrames() {
  if (!device_) return 0;
  MMTIME time{};
  time.wType = TIME_SAMPLES;
  if (waveOutGetPosition(device_.get(), &time, sizeof(time)) != MMSYSERR_NOERROR) return 0;
  if (time.wType == TIME_BYTES) return std::min<std::int64_t>(time.u.cb / (channels_ * 2), queuedFrames_);
  return std::min<std::int64_t>(time.u.sample, queuedFrames_);
}

bool WaveOutput::Idle() {
  for (const Buffer& b : buffers_) {
    if (b.queued && !(b.header.dwFlags & WHDR_DONE)) return false;
  }
  return true;
}

void WaveOutput::Pause() {
  if (device_) waveOutPause(device_.get());
}

void WaveOutput::Resume() {
  if (device_) waveOutRestart(device_.get());
}

void WaveOutput::Reset() {
  if (!device_) return;
  waveOutReset(device_.get());
  // What the reset returned was never heard.
  for (Buffer& b : buffers_) b.queued = false;
  next_ = oldest_ = 0;
  queuedFrames_ = 0;
}
