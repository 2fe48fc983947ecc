// How fast our Bass.dll's decoding path turns MP3 files into PCM, in multiples of real
// time. It runs the very pieces a stream's player thread runs (the frame cursor over the
// whole file in memory, batches of about 4 KiB of verified frames, the system's ACM
// Layer-3 codec) back to back, without the thread's pacing, and times them.
//
//   bass_decode_bench.exe <file.mp3>...   one line per file: name, audio seconds, x real time
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "standins/bass/acm_decoder_win.h"
#include "standins/bass/downloaded_file.h"
#include "standins/bass/frame_cursor.h"
#include "standins/bass/mp3_frame.h"

namespace {

// As the stream reads them: junk after the tags is searched this far for the first frame.
constexpr std::size_t kScanLimit = 64 * 1024;
constexpr std::size_t kBatchBytes = 4096;
// Each file is decoded again until this much time has gone by (and at least kMinRounds).
constexpr double kMinSeconds = 1.0;
constexpr int kMinRounds = 3;

struct FileOwner {
  std::FILE* file;
  ~FileOwner() {
    if (file != nullptr) std::fclose(file);
  }
};

bool ReadWhole(const char* path, std::vector<std::uint8_t>& bytes) {
  FileOwner owner{std::fopen(path, "rb")};
  if (owner.file == nullptr) return false;
  std::uint8_t chunk[65536];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof(chunk), owner.file)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return true;
}

struct Layout {
  FrameHeader format;
  std::size_t firstAudioFrame = 0;
};

// The stream's first frame after the ID3v2 tags, and the first frame with audio in it.
bool FindAudio(const std::vector<std::uint8_t>& bytes, Layout& layout) {
  std::size_t tagEnd = 0;
  while (tagEnd < bytes.size()) {
    const std::size_t tag = Id3v2TagSize(bytes.data() + tagEnd, bytes.size() - tagEnd);
    if (tag == 0) break;
    tagEnd += tag;
  }
  if (tagEnd >= bytes.size()) return false;
  FrameSearchRequest request;
  request.data = bytes.data() + tagEnd;
  request.size = bytes.size() - tagEnd;
  request.complete = true;
  request.limit = kScanLimit;
  request.chain = 3;
  const FrameLocation found = FindFrame(request);
  if (found.result != FrameSearch::Found) return false;
  layout.format = found.header;
  const std::size_t audioStart = tagEnd + found.offset;
  const bool summary = ParseVbrSummary(bytes.data() + audioStart, bytes.size() - audioStart,
                                       found.header).has_value();
  layout.firstAudioFrame = audioStart + (summary ? std::size_t(found.header.frameBytes) : 0);
  return true;
}

// Decodes the whole file once; returns the sample frames produced, -1 on a codec failure.
std::int64_t DecodeOnce(const DownloadedFile& file, const Layout& layout,
                        std::vector<std::uint8_t>& frames, std::vector<std::int16_t>& pcm) {
  AcmMp3Decoder decoder;
  if (!decoder.Open(layout.format)) return -1;
  FrameCursor cursor(layout.format, layout.firstAudioFrame);
  std::int64_t samples = 0;
  for (;;) {
    frames.clear();
    const FrameBatch batch = cursor.Next(file, kBatchBytes, frames);
    if (batch.step == CursorStep::Wait) return -1;  // a complete file never waits
    const bool end = batch.step == CursorStep::End;
    pcm.clear();
    if (!decoder.Decode(frames.data(), frames.size(), end, pcm)) return -1;
    samples += std::int64_t(pcm.size());
    if (end) break;
  }
  return samples / layout.format.channels;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
  return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

const char* BaseName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bass_decode_bench <file.mp3>...\n");
    return 2;
  }
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  int status = 0;
  std::vector<std::uint8_t> frames;
  std::vector<std::int16_t> pcm;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::uint8_t> bytes;
    Layout layout;
    if (!ReadWhole(argv[i], bytes) || !FindAudio(bytes, layout)) {
      std::printf("%s: no MPEG audio found\n", BaseName(argv[i]));
      status = 1;
      continue;
    }
    DownloadedFile file;
    file.Announce(std::int64_t(bytes.size()));
    file.Append(bytes.data(), bytes.size());
    file.Finish(true);

    std::vector<double> rounds;
    std::int64_t sampleFrames = 0;
    double spent = 0;
    while (spent < kMinSeconds || int(rounds.size()) < kMinRounds) {
      LARGE_INTEGER begin, end;
      QueryPerformanceCounter(&begin);
      sampleFrames = DecodeOnce(file, layout, frames, pcm);
      QueryPerformanceCounter(&end);
      if (sampleFrames <= 0) break;
      rounds.push_back(Seconds(begin, end, frequency));
      spent += rounds.back();
    }
    if (sampleFrames <= 0) {
      std::printf("%s: the codec failed\n", BaseName(argv[i]));
      status = 1;
      continue;
    }
    std::sort(rounds.begin(), rounds.end());
    const double audio = double(sampleFrames) / layout.format.sampleRate;
    const double median = rounds[rounds.size() / 2];
    std::printf("%s: %.2f s of %d Hz %d ch audio in %.2f ms (median of %zu): "
                "%.0fx real time (best %.0fx)\n",
                BaseName(argv[i]), audio, layout.format.sampleRate, layout.format.channels,
                median * 1000, rounds.size(), audio / median, audio / rounds.front());
  }
  return status;
}
