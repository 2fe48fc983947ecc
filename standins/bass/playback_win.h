#pragma once
// What a stream plays: the decoded samples waiting to be heard, the recent past of what was
// decoded (for the level and the sample data), the output they go to (the sound device, or
// the silent clock when none opens or the device goes away), the volume and the transport.
// The decoding thread feeds it and moves it on. Every call is made with the stream's lock
// held.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "standins/bass/audio_output.h"
#include "standins/bass/stream_facts.h"

class Playback {
 public:
  // `silent`: the clock even where a device exists. `capturePath`: the test build's
  // capture file (empty: none; the build that ships ignores it).
  Playback(const StreamFacts& facts, bool silent, const std::string& capturePath);
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;
  // What the output has played up to now counts as played; then it goes.
  void Close(std::int64_t nowMicros);

  // From the decoding thread.
  std::int64_t PendingFrames() const { return feed_.pending.Frames(); }
  bool DecodeEnded() const { return feed_.decodeEnded; }
  // Decoded samples, following the last ones.
  void Append(const std::int16_t* samples, std::size_t count);
  // Decoding reached the end of the file; the number of sample frames decoded.
  std::int64_t EndOfDecoding();
  // Hands on what is due, and ends the stream once all of it was heard.
  void Advance(std::int64_t nowMicros);
  // How long the decoding thread may rest, with nothing to decode.
  std::int64_t RestMicros(std::int64_t nowMicros);
  // The song ends where it is (decoding failed).
  void EndHere();

  // Transport.
  bool Ended() const { return ended_; }
  bool Playing() const { return feed_.transport == Transport::Playing; }
  void Play(std::int64_t nowMicros);
  void Stop(std::int64_t nowMicros);
  bool Pause(std::int64_t nowMicros, int* error);
  // A restart or seek: what was decoded goes, and playing (if it plays) goes on from `frame`.
  void Jump(std::int64_t frame, std::int64_t nowMicros);

  // What is heard.
  std::int64_t PlayedFrame(std::int64_t nowMicros);
  std::int64_t DecodedFrame() const { return feed_.pending.EndFrame(); }
  std::size_t UnplayedBytes() const { return feed_.pending.Samples() * sizeof(std::int16_t); }
  bool Level(float* levels, float seconds, DWORD flags, std::int64_t nowMicros, int* error);
  DWORD RecentSamples(void* buffer, DWORD length, std::int64_t nowMicros);
  float Volume() const { return volume_; }
  // Any finite value: negative counts as silence, above 1 amplifies (with clipping).
  void SetVolume(float volume);

 private:
  OutputFeed& Feed();
  void EndLocked();
  void FallBackToClock(std::int64_t nowMicros);

  StreamFacts facts_;
  OutputFeed feed_;
  std::unique_ptr<AudioOutput> output_;
  float volume_ = 1.0f;
  bool ended_ = false;
};

// The library-wide output volume (BASS_SetVolume), applied on top of each stream's.
std::atomic<float>& OutputVolume();
