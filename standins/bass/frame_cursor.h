#pragma once
// Walks the frames of a downloaded (or downloading) MP3 file in order, handing whole,
// verified frames to the decoder: junk and damaged stretches are skipped by searching
// for the next chain of frames of the same stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "standins/bass/downloaded_file.h"
#include "standins/bass/mp3_frame.h"

enum class CursorStep { Frames, Wait, End };

struct FrameBatch {
  CursorStep step = CursorStep::Wait;
  int frames = 0;               // whole frames appended to the output
  std::size_t skippedBytes = 0; // junk passed over to find them
};

class FrameCursor {
 public:
  // `stream`: a header of the stream's frames; `firstFrame`: file offset of the first
  // frame to decode (the one after the encoder's summary frame, if any).
  FrameCursor(const FrameHeader& stream, std::size_t firstFrame)
      : stream_(stream), position_(firstFrame) {}

  // Appends up to about `maxBytes` of whole frames to `out`. Wait: nothing can be handed
  // out until more of the file arrives; End: the file is over.
  FrameBatch Next(const DownloadedFile& file, std::size_t maxBytes, std::vector<std::uint8_t>& out);

  // File offset after the last frame handed out (or skipped).
  std::size_t Position() const { return position_; }
  void MoveTo(std::size_t offset) { position_ = offset; }

 private:
  FrameHeader stream_;
  std::size_t position_;
  std::vector<std::uint8_t> window_;
};

// File offset of frame number `index` (0 = the first audio frame at `firstFrame`), found
// by walking the frame headers of what has arrived; -1 when that far has not arrived.
std::int64_t FindFrameOffset(const DownloadedFile& file, const FrameHeader& stream,
                             std::size_t firstFrame, std::int64_t index);
