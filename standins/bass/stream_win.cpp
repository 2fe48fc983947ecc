#include "standins/bass/stream_win.h"

#include <algorithm>
#include <cmath>

#include "standins/bass/clock_output.h"
#include "standins/bass/device_output_win.h"
#include "platform/module_thread_win.h"

namespace {

// How far past its tags a file may hold junk before its first frame.
constexpr std::size_t kScanLimit = 64 * 1024;
// Room for the two successors that confirm a first frame.
constexpr std::size_t kChainSlack = 3 * kLargestFrameBytes + kFrameHeaderBytes;
constexpr DWORD kHeadWaitMs = 10000;
constexpr auto kCreateDeadline = std::chrono::seconds(10);

}  // namespace

std::atomic<float>& OutputVolume() {
  static std::atomic<float> volume{1.0f};
  return volume;
}

Stream::Stream(const StreamSettings& settings) : settings_(settings), file_(settings.cap) {}

Stream::~Stream() { Shutdown(); }

std::shared_ptr<Stream> Stream::OpenUrl(const std::string& url, DWORD offset, DOWNLOADPROC* proc,
                                        void* user, const StreamSettings& settings, int* error) {
  const auto deadline = std::chrono::steady_clock::now() + kCreateDeadline;
  std::shared_ptr<Stream> stream(new Stream(settings));
  stream->name_ = url;
  stream->file_.FailAllocationAt(settings.failAllocationAt);
  stream->download_ = std::make_unique<HttpDownload>(stream->file_, proc, user);
  if (!stream->download_->Begin(url, offset, kHeadWaitMs, error)) {
    stream->Shutdown();
    return nullptr;
  }
  stream->headers_ = stream->download_->Headers();
  if (!stream->Recognise(deadline, error) || !stream->Start(error)) {
    stream->Shutdown();
    return nullptr;
  }
  return stream;
}

std::shared_ptr<Stream> Stream::OpenBytes(const std::uint8_t* bytes, std::size_t count,
                                          std::string name, const StreamSettings& settings,
                                          int* error) {
  std::shared_ptr<Stream> stream(new Stream(settings));
  stream->name_ = std::move(name);
  if (!stream->file_.Announce(std::int64_t(count)) || !stream->file_.Append(bytes, count)) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
  stream->file_.Finish(true);
  if (!stream->Recognise(std::chrono::steady_clock::now(), error) || !stream->Start(error)) {
    stream->Shutdown();
    return nullptr;
  }
  return stream;
}

void Stream::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  file_.Wake();
  if (download_) download_->Stop();
  if (playerDone_) WaitForSingleObject(playerDone_->get(), INFINITE);
  playerDone_.reset();
  std::lock_guard lock(mutex_);
  // What the output has played up to the moment of the free counts as played.
  if (output_) {
    OutputFeed feed = FeedLocked();
    output_->Settle(feed, NowMicros());
    output_.reset();
  }
  decoding_.decoder.Close();
  capture_.Close();
}

bool Stream::Recognise(std::chrono::steady_clock::time_point deadline, int* error) {
  std::vector<std::uint8_t> window;
  for (;;) {
    // Whether the download is over is read first, so bytes arriving meanwhile are not
    // mistaken for the end of the file.
    const bool finished = file_.Finished();
    const std::size_t received = file_.Received();
    bool needMore = false;
    // Tags first: one or more ID3v2 tags may precede the audio.
    std::size_t tagEnd = 0;
    for (;;) {
      std::uint8_t head[10];
      std::size_t got = file_.Read(tagEnd, head, sizeof(head));
      if (got < sizeof(head) && !finished) {
        needMore = true;
        break;
      }
      std::size_t tag = Id3v2TagSize(head, got);
      if (tag == 0) break;
      tagEnd += tag;
    }
    if (!needMore && tagEnd > received) needMore = !finished;
    if (!needMore) {
      const std::size_t windowEnd = std::min(received, tagEnd + kScanLimit + kChainSlack);
      window.resize(windowEnd > tagEnd ? windowEnd - tagEnd : 0);
      file_.Read(tagEnd, window.data(), window.size());
      FrameSearchRequest request;
      request.data = window.data();
      request.size = window.size();
      request.complete = finished && windowEnd == received;
      request.limit = kScanLimit;
      request.chain = 3;
      FrameLocation found = FindFrame(request);
      if (found.result == FrameSearch::NotFound) {
        *error = file_.OutOfMemory() ? BASS_ERROR_MEM : BASS_ERROR_FILEFORM;
        return false;
      }
      if (found.result == FrameSearch::Found) {
        format_ = found.header;
        audioStart_ = tagEnd + found.offset;
        StreamLayout layout;
        layout.first = found.header;
        layout.summary = ParseVbrSummary(window.data() + found.offset,
                                         window.size() - found.offset, found.header);
        layout.audioStart = std::int64_t(audioStart_);
        layout.fileSize = file_.Size();
        firstAudioFrame_ = audioStart_ + (layout.summary ? std::size_t(format_.frameBytes) : 0);
        facts_ = ComputeStreamFacts(layout);
        if (tagEnd > 0) {
          id3v2_.resize(tagEnd);
          file_.Read(0, id3v2_.data(), tagEnd);
        }
        return true;
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (finished || now >= deadline) {
      *error = !finished              ? BASS_ERROR_TIMEOUT
               : file_.OutOfMemory() ? BASS_ERROR_MEM
                                     : BASS_ERROR_FILEFORM;
      return false;
    }
    file_.WaitBeyond(received,
                     std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
  }
}

bool Stream::Start(int* error) {
  if (!decoding_.decoder.Open(format_)) {
    *error = BASS_ERROR_CODEC;
    return false;
  }
  decoding_.cursor = std::make_unique<FrameCursor>(format_, firstAudioFrame_);
  // The level may look back a second behind a decoder that runs up to two seconds ahead.
  history_ = std::make_unique<PcmHistory>(facts_.channels, std::int64_t(facts_.sampleRate) * 3);
  pending_ = PendingAudio(facts_.channels);
  decodePosition_ = firstAudioFrame_;
  lengthBytes_ = facts_.lengthBytes;
  lengthExact_ = facts_.lengthExact;
  if (!settings_.silent) output_ = DeviceOutput::Open(facts_.sampleRate, facts_.channels);
  if (!output_) output_ = std::make_unique<ClockOutput>(facts_.sampleRate);
  if (!settings_.capturePath.empty()) {
    capture_.Open(settings_.capturePath, facts_.sampleRate, facts_.channels);
  }
  lastFlush_ = std::chrono::steady_clock::now();
  auto done = std::make_shared<UniqueHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!*done || !StartModuleThread(ThisModule(), [this, done] {
        PlayerLoop();
        SetEvent(done->get());  // from here on the stream may be gone
        return ModuleRelease::Release;
      })) {
    *error = BASS_ERROR_MEM;
    return false;
  }
  playerDone_ = std::move(done);
  return true;
}

// --- queries ---------------------------------------------------------------------

std::int64_t Stream::Length() {
  std::lock_guard lock(mutex_);
  // A file whose size the server did not give is measured once it is all here.
  if (lengthBytes_ < 0 && file_.Finished()) {
    StreamLayout layout;
    layout.first = format_;
    layout.audioStart = std::int64_t(audioStart_);
    layout.fileSize = file_.Size();
    std::uint8_t frame[kLargestFrameBytes + kFrameHeaderBytes] = {};
    std::size_t got = file_.Read(audioStart_, frame, sizeof(frame));
    layout.summary = ParseVbrSummary(frame, got, format_);
    lengthBytes_ = ComputeStreamFacts(layout).lengthBytes;
  }
  return lengthBytes_;
}

std::int64_t Stream::FilePosition(DWORD mode, int* error) {
  std::lock_guard lock(mutex_);
  const std::int64_t received = std::int64_t(file_.Received());
  const std::int64_t size = file_.Size() >= 0 ? file_.Size() : received;
  const std::int64_t start = std::int64_t(audioStart_);
  switch (mode) {
    case BASS_FILEPOS_CURRENT: {
      // Decoding runs ahead of what is heard; the end of the file is reported only once
      // the last sample has been played, so a caller that takes it for the end of the
      // song does not cut the song short.
      if (ended_) return size - start;
      const std::int64_t decoded = std::int64_t(decodePosition_) - start;
      return std::max<std::int64_t>(0, std::min(decoded, size - start - 1));
    }
    case BASS_FILEPOS_DOWNLOAD:
      return received;
    case BASS_FILEPOS_END:
      return size;
    case BASS_FILEPOS_START:
      return start;
    case BASS_FILEPOS_CONNECTED:
      return download_ && !file_.Finished() ? 1 : 0;
    case BASS_FILEPOS_BUFFER:
      return std::max<std::int64_t>(0, received - std::int64_t(decodePosition_));
    case BASS_FILEPOS_SIZE:
      if (file_.Size() < 0) {
        *error = BASS_ERROR_NOTAVAIL;
        return -1;
      }
      return file_.Size();
    default:
      *error = BASS_ERROR_ILLTYPE;
      return -1;
  }
}

double Stream::BytesToSeconds(std::int64_t bytes) const { return ::BytesToSeconds(facts_, bytes); }

float Stream::Volume() {
  std::lock_guard lock(mutex_);
  return volume_;
}

void Stream::SetVolume(float volume) {
  std::lock_guard lock(mutex_);
  volume_ = std::max(volume, 0.0f);
}

void Stream::Info(BASS_CHANNELINFO* info) const {
  *info = BASS_CHANNELINFO{};
  info->freq = DWORD(facts_.sampleRate);
  info->chans = DWORD(facts_.channels);
  info->ctype = BASS_CTYPE_STREAM_MP3;
  info->filename = name_.c_str();
}

const char* Stream::Tags(DWORD type, int* error) {
  std::lock_guard lock(mutex_);
  if (type == BASS_TAG_ID3V2 && !id3v2_.empty()) return reinterpret_cast<const char*>(id3v2_.data());
  if (type == BASS_TAG_HTTP && !headers_.empty()) return headers_.c_str();
  if (type == BASS_TAG_ID3 && file_.Complete()) {
    // The 128-byte tag at the very end of the file, once the whole file is here.
    const std::size_t received = file_.Received();
    if (id3v1_.empty() && received >= 128 + audioStart_) {
      std::vector<std::uint8_t> tail(128);
      file_.Read(received - 128, tail.data(), 128);
      if (tail[0] == 'T' && tail[1] == 'A' && tail[2] == 'G') id3v1_ = std::move(tail);
    }
    if (!id3v1_.empty()) return reinterpret_cast<const char*>(id3v1_.data());
  }
  *error = BASS_ERROR_NOTAVAIL;
  return nullptr;
}
