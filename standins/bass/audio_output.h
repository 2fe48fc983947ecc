#pragma once
// Where a stream's decoded samples go to be heard: the sound device, or a silent clock
// that lets them pass at the stream's rate (clock_output.h, device_output_win.h). A stream
// holds one and never asks which. Every call is made with the stream's lock held.
#include <cstdint>
#include <vector>

#include "standins/bass/capture.h"
#include "standins/bass/pcm_history.h"
#include "standins/bass/pending_audio.h"

enum class Transport { Stopped, Playing, Paused };

// What an output works on: the stream's samples and the state it plays them in. The
// stream's playback holds it and hands it to its output on every call.
struct OutputFeed {
  OutputFeed(int channels, std::int64_t historyFrames)
      : pending(channels), history(channels, historyFrames) {}

  PendingAudio pending;
  PcmHistory history;  // what was decoded, to give back what a device did not play
  Capture capture;     // the test build's record of every sample heard, after volume
  std::vector<std::int16_t> scratch;
  float gain = 1.0f;  // the stream's volume times the library's
  Transport transport = Transport::Stopped;
  bool decodeEnded = false;
};

class AudioOutput {
 public:
  virtual ~AudioOutput() = default;
  // Moves on to `nowMicros`: hands on what is due, captures what has been heard.
  virtual void Advance(OutputFeed& feed, std::int64_t nowMicros) = 0;
  // The number of the sample frame being heard at `nowMicros`.
  virtual std::int64_t PlayedFrame(OutputFeed& feed, std::int64_t nowMicros) = 0;
  // Nothing handed on is still waiting to be heard.
  virtual bool Drained() = 0;
  // It stopped taking samples while it had some to play (a sound server that went away).
  virtual bool Lost(const OutputFeed& feed) = 0;
  // How long the player thread may rest, with nothing to decode, before this output needs
  // it again: to hand on samples, to decode more before what is in hand runs out, or to
  // end the stream once it has all been heard.
  virtual std::int64_t RestMicros(OutputFeed& feed, std::int64_t nowMicros) = 0;

  // Plays on from the current frame.
  virtual void Resume(OutputFeed& feed, std::int64_t nowMicros) = 0;
  // What was heard counts; what was handed on waits for Resume.
  virtual void Pause(OutputFeed& feed, std::int64_t nowMicros) = 0;
  // What was heard counts; what was handed on and not heard goes back to the pending
  // samples, to be played from there.
  virtual void Stop(OutputFeed& feed, std::int64_t nowMicros) = 0;
  // Counts what was heard up to `nowMicros` (before a jump, or the end of the stream).
  virtual void Settle(OutputFeed& feed, std::int64_t nowMicros) = 0;
  // After a jump, with the pending samples gone: goes on from `frame`.
  virtual void MoveTo(OutputFeed& feed, std::int64_t frame, std::int64_t nowMicros) = 0;
  // The stream has ended and all of it was heard.
  virtual void End(OutputFeed& feed) = 0;
};
