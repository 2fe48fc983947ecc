#pragma once
// What a stream is, found before the stream exists: the first frame of its file, where the
// audio begins (after any ID3v2 tags and junk), its facts, and its tags. Recognising waits
// for the file to bring enough bytes, up to a deadline.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "standins/bass/downloaded_file.h"
#include "standins/bass/mp3_frame.h"
#include "standins/bass/stream_facts.h"

struct StreamFormat {
  FrameHeader frame;                // a header of the stream's frames (the first one)
  std::size_t audioStart = 0;       // file offset of the first frame
  std::size_t firstAudioFrame = 0;  // the first frame to decode: after a summary frame
  StreamFacts facts;
  std::vector<std::uint8_t> id3v2;  // the tags before the audio, as they stand
};

enum class FormatFailure { NotMp3, OutOfMemory, TimedOut };

// Waits until the file shows its first frame (one that two more frame headers chain on
// from, within 64 KiB of junk after the tags), the file ends without one, or `deadline`
// passes.
std::optional<StreamFormat> RecogniseFormat(const DownloadedFile& file,
                                            std::chrono::steady_clock::time_point deadline,
                                            FormatFailure* failure);

// The length, in bytes of PCM, of a file whose size was not announced, once all of it is
// here; -1 before then.
std::int64_t MeasuredLength(const StreamFormat& format, const DownloadedFile& file);
