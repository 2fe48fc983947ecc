// The frame cursor and the seek search over any file arriving in any pieces. Frames handed
// out are whole frames of the stream, back to back; the cursor only moves forward, never
// past what arrived, and comes to an end on a finished file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "standins/bass/downloaded_file.h"
#include "standins/bass/frame_cursor.h"
#include "standins/bass/mp3_frame.h"

namespace {

// Walks what the cursor handed out: whole frames of the stream, nothing else.
void CheckFrames(const std::vector<std::uint8_t>& out, const FrameHeader& stream) {
  std::size_t at = 0;
  while (at < out.size()) {
    if (at + kFrameHeaderBytes > out.size()) std::abort();
    const auto header = ParseFrameHeader(out.data() + at);
    if (!header || !header->SameStreamAs(stream)) std::abort();
    at += std::size_t(header->frameBytes);
  }
  if (at != out.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t piece = 1 + std::size_t(input[0]) * 16;  // how the file arrives
  const std::size_t batch = 1 + std::size_t(input[1]) * 8;   // what one step may take
  const std::uint8_t* data = input + 2;
  size -= 2;

  // The stream is that of the first frame in the data, as a stream recognises it.
  FrameSearchRequest request;
  request.data = data;
  request.size = size;
  request.complete = true;
  const FrameLocation first = FindFrame(request);
  if (first.result != FrameSearch::Found) return 0;

  DownloadedFile file;
  FrameCursor cursor(first.header, first.offset);
  std::vector<std::uint8_t> out;
  std::size_t position = cursor.Position();
  auto step = [&]() {
    out.clear();
    const FrameBatch result = cursor.Next(file, batch, out);
    CheckFrames(out, first.header);
    const bool moved = cursor.Position() != position;
    if (cursor.Position() < position || (moved && cursor.Position() > file.Received())) std::abort();
    if (result.step != CursorStep::Frames && moved) std::abort();
    position = cursor.Position();
    return result.step;
  };
  for (std::size_t at = 0; at < size; at += piece) {
    const std::size_t count = at + piece <= size ? piece : size - at;
    file.Append(data + at, count);
    while (step() == CursorStep::Frames) {
    }
  }
  file.Finish(true);
  // Every step on a finished file makes progress until the end.
  for (std::size_t steps = 0;; ++steps) {
    const CursorStep result = step();
    if (result == CursorStep::End) break;
    if (result == CursorStep::Wait || steps > size + 1) std::abort();
  }
  for (std::int64_t index : {0, 1, 7}) {
    const std::int64_t offset = FindFrameOffset(file, first.header, first.offset, index);
    if (offset != -1 && (offset < std::int64_t(first.offset) || offset > std::int64_t(size))) {
      std::abort();
    }
  }
  return 0;
}
