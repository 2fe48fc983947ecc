#pragma once
// The decoding thread of a stream. It decodes the file up to half a second ahead of what is
// heard, hands the samples to the stream's playback and moves the playback on, resting in
// between. Frames go to the codec only when they chain on (the frame cursor), so damaged
// stretches are passed over. The thread keeps the library loaded while it runs.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/owners_win.h"
#include "standins/bass/acm_decoder_win.h"
#include "standins/bass/downloaded_file.h"
#include "standins/bass/frame_cursor.h"
#include "standins/bass/playback_win.h"
#include "standins/bass/stream_format.h"

class StreamDecoder {
 public:
  // `lock` and `wake` are the stream's: `lock` guards the playback and the decoder's shared
  // state, `wake` rouses the thread. The references outlive the decoder.
  StreamDecoder(std::mutex& lock, std::condition_variable& wake, const DownloadedFile& file,
                const StreamFormat& format, Playback& playback);
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // Opens the codec and starts the thread; false when either cannot be had.
  bool Start(int* error);
  // Ends the thread; returns once it no longer touches the stream. Without the lock.
  void Stop();

  // With the lock held:
  // Decoding goes on from the frame at `fileOffset`, dropping `discard` sample frames.
  void JumpLocked(std::size_t fileOffset, std::int64_t discard);
  // File offset after the last frame decoded.
  std::size_t PositionLocked() const { return position_; }
  // The length in bytes of PCM: the format's, measured once a file of unknown size is all
  // here, and once decoding has reached the end, what was decoded when the length was an
  // estimate or the file fell short of it.
  std::int64_t LengthLocked();

 private:
  struct Jump {
    bool pending = false;
    std::size_t fileOffset = 0;
    std::int64_t discard = 0;
  };

  void Run();
  // Decodes one batch; false when there was nothing to do.
  bool Step();

  std::mutex& lock_;
  std::condition_variable& wake_;
  const DownloadedFile& file_;
  const StreamFormat& format_;
  Playback& playback_;

  // Only the thread touches these.
  AcmMp3Decoder codec_;
  FrameCursor cursor_;
  std::vector<std::uint8_t> frameBytes_;
  std::vector<std::int16_t> samples_;
  std::int64_t discard_ = 0;  // sample frames to drop after a seek into a frame

  // Under the lock.
  bool quit_ = false;
  Jump jump_;
  std::uint64_t generation_ = 0;  // counts jumps, so a batch decoded before one is dropped
  std::size_t position_ = 0;
  std::int64_t lengthBytes_ = -1;

  // Signalled when the thread no longer touches the stream.
  std::shared_ptr<UniqueHandle> done_;
};
