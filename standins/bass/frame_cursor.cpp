#include "standins/bass/frame_cursor.h"

namespace {

// Room for the successor header of the last frame in a window.
constexpr std::size_t kLookahead = kLargestFrameBytes + kFrameHeaderBytes;

}  // namespace

FrameBatch FrameCursor::Next(const DownloadedFile& file, std::size_t maxBytes,
                             std::vector<std::uint8_t>& out) {
  FrameBatch batch;
  // Whether the download is over must be known before the bytes are copied, or bytes that
  // arrive in between would be taken for the end of the file.
  const bool finished = file.Finished();
  window_.resize(maxBytes + kLookahead);
  const std::size_t got = file.Read(position_, window_.data(), window_.size());
  const bool windowReachesEnd = finished && position_ + got >= file.Received();
  std::size_t at = 0;
  while (at < got) {
    FrameSearchRequest request;
    request.data = window_.data();
    request.size = got;
    request.complete = windowReachesEnd;
    request.from = at;
    request.chain = 2;
    request.stream = &stream_;
    FrameLocation found = FindFrame(request);
    if (found.result == FrameSearch::NeedMoreData) {
      batch.skippedBytes += found.offset - at;
      at = found.offset;
      break;
    }
    if (found.result == FrameSearch::NotFound) {
      batch.skippedBytes += got - at;
      at = got;
      break;
    }
    batch.skippedBytes += found.offset - at;
    const std::size_t end = found.offset + static_cast<std::size_t>(found.header.frameBytes);
    out.insert(out.end(), window_.begin() + std::ptrdiff_t(found.offset),
               window_.begin() + std::ptrdiff_t(end));
    ++batch.frames;
    at = end;
    if (at >= maxBytes) break;
  }
  position_ += at;
  if (batch.frames > 0 || batch.skippedBytes > 0) {
    batch.step = CursorStep::Frames;
  } else {
    batch.step = windowReachesEnd ? CursorStep::End : CursorStep::Wait;
  }
  return batch;
}

std::int64_t FindFrameOffset(const DownloadedFile& file, const FrameHeader& stream,
                             std::size_t firstFrame, std::int64_t index) {
  FrameCursor cursor(stream, firstFrame);
  std::vector<std::uint8_t> discard;
  for (std::int64_t seen = 0; seen < index;) {
    discard.clear();
    // One frame at a time keeps the count exact.
    FrameBatch batch = cursor.Next(file, 1, discard);
    if (batch.step != CursorStep::Frames) return -1;
    seen += batch.frames;
  }
  return static_cast<std::int64_t>(cursor.Position());
}
