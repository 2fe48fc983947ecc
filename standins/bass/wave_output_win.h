#pragma once
// The system's default audio output (waveOut on WAVE_MAPPER) fed with a ring of buffers.
#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/owners_win.h"

class WaveOutput {
 public:
  WaveOutput() = default;
  WaveOutput(const WaveOutput&) = delete;
  WaveOutput& operator=(const WaveOutput&) = delete;
  ~WaveOutput() { Close(); }

  // False when no output device opens (as on a machine without sound).
  bool Open(int sampleRate, int channels);
  void Close();

  // Frames one buffer holds, and whether a buffer is free to take them.
  std::size_t BufferFrames() const { return bufferFrames_; }
  bool HasFreeBuffer();
  // Queues interleaved samples (at most BufferFrames() frames) for playing.
  void Queue(const std::int16_t* samples, std::size_t frames);
  // Hands every buffer the device has finished, in order, to `played`.
  void CollectPlayed(const std::function<void(const std::int16_t*, std::size_t)>& played);
  // Frames played since the last Reset, as the device counts them.
  std::int64_t PlayedFrames();
  bool Idle();  // nothing queued is still playing

  void Pause();
  void Resume();
  // Drops everything queued; the played count starts again from 0.
  void Reset();

 private:
  struct Buffer {
    WAVEHDR header{};
    std::vector<std::int16_t> samples;
    bool queued = false;
  };
  UniqueHandle event_;    // signalled by the device; it goes after the device
  WaveOutHandle device_;
  int channels_ = 2;
  std::size_t bufferFrames_ = 0;
  std::vector<Buffer> buffers_;
  std::size_t next_ = 0;       // the buffer to fill next
  std::size_t oldest_ = 0;     // the oldest queued buffer
  std::int64_t queuedFrames_ = 0;
};
