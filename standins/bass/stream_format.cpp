#include "standins/bass/stream_format.h"

#include <algorithm>

namespace {

// How far past its tags a file may hold junk before its first frame.
constexpr std::size_t kScanLimit = 64 * 1024;
// Room for the two successors that confirm a first frame.
constexpr std::size_t kChainSlack = 3 * kLargestFrameBytes + kFrameHeaderBytes;

// Where the ID3v2 tags at the start of the file end; nullopt while they may go on beyond
// what has arrived.
std::optional<std::size_t> TagsEnd(const DownloadedFile& file, bool finished) {
  std::size_t end = 0;
  for (;;) {
    std::uint8_t head[10];
    const std::size_t got = file.Read(end, head, sizeof(head));
    if (got < sizeof(head) && !finished) return std::nullopt;
    const std::size_t tag = Id3v2TagSize(head, got);
    if (tag == 0) return end;
    end += tag;
  }
}

StreamFormat FormatAt(const DownloadedFile& file, const std::vector<std::uint8_t>& window,
                      std::size_t tagsEnd, const FrameLocation& found) {
  StreamFormat format;
  format.frame = found.header;
  format.audioStart = tagsEnd + found.offset;
  StreamLayout layout;
  layout.first = found.header;
  layout.summary = ParseVbrSummary(window.data() + found.offset, window.size() - found.offset,
                                   found.header);
  layout.audioStart = std::int64_t(format.audioStart);
  layout.fileSize = file.Size();
  format.firstAudioFrame =
      format.audioStart + (layout.summary ? std::size_t(found.header.frameBytes) : 0);
  format.facts = ComputeStreamFacts(layout);
  if (tagsEnd > 0) {
    format.id3v2.resize(tagsEnd);
    file.Read(0, format.id3v2.data(), tagsEnd);
  }
  return format;
}

}  // namespace

std::optional<StreamFormat> RecogniseFormat(const DownloadedFile& file,
                                            std::chrono::steady_clock::time_point deadline,
                                            FormatFailure* failure) {
  std::vector<std::uint8_t> window;
  for (;;) {
    // Whether the download is over is read first, so bytes arriving meanwhile are not
    // mistaken for the end of the file.
    const bool finished = file.Finished();
    const std::size_t received = file.Received();
    const std::optional<std::size_t> tagsEnd = TagsEnd(file, finished);
    if (tagsEnd && (*tagsEnd <= received || finished)) {
      const std::size_t windowEnd = std::min(received, *tagsEnd + kScanLimit + kChainSlack);
      window.resize(windowEnd > *tagsEnd ? windowEnd - *tagsEnd : 0);
      file.Read(*tagsEnd, window.data(), window.size());
      FrameSearchRequest request;
      request.data = window.data();
      request.size = window.size();
      request.complete = finished && windowEnd == received;
      request.limit = kScanLimit;
      request.chain = 3;
      const FrameLocation found = FindFrame(request);
      if (found.result == FrameSearch::NotFound) {
        *failure = file.OutOfMemory() ? FormatFailure::OutOfMemory : FormatFailure::NotMp3;
        return std::nullopt;
      }
      if (found.result == FrameSearch::Found) return FormatAt(file, window, *tagsEnd, found);
    }
    const auto now = std::chrono::steady_clock::now();
    if (finished || now >= deadline) {
      *failure = !finished            ? FormatFailure::TimedOut
                 : file.OutOfMemory() ? FormatFailure::OutOfMemory
                                      : FormatFailure::NotMp3;
      return std::nullopt;
    }
    file.WaitBeyond(received,
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
  }
}

std::int64_t MeasuredLength(const StreamFormat& format, const DownloadedFile& file) {
  if (!file.Finished()) return -1;
  StreamLayout layout;
  layout.first = format.frame;
  layout.audioStart = std::int64_t(format.audioStart);
  layout.fileSize = file.Size();
  std::uint8_t frame[kLargestFrameBytes + kFrameHeaderBytes] = {};
  const std::size_t got = file.Read(format.audioStart, frame, sizeof(frame));
  layout.summary = ParseVbrSummary(frame, got, format.frame);
  return ComputeStreamFacts(layout).lengthBytes;
}
