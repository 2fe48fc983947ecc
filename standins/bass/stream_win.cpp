#include "standins/bass/stream_win.h"

#include <algorithm>
#include <cmath>

#include "standins/bass/frame_cursor.h"

namespace {

constexpr DWORD kHeadWaitMs = 10000;
constexpr auto kCreateDeadline = std::chrono::seconds(10);

std::int64_t NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int ErrorOf(FormatFailure failure) {
  switch (failure) {
    case FormatFailure::OutOfMemory:
      return BASS_ERROR_MEM;
    case FormatFailure::TimedOut:
      return BASS_ERROR_TIMEOUT;
    case FormatFailure::NotMp3:
      break;
  }
  return BASS_ERROR_FILEFORM;
}

std::size_t CapOf([[maybe_unused]] const StreamSettings& settings) {
#if TUNER_TEST_BUILD
  return settings.cap;
#else
  return DownloadedFile::kStreamCap;
#endif
}

}  // namespace

Stream::Stream(std::string name, const StreamSettings& settings)
    : settings_(settings), name_(std::move(name)), file_(CapOf(settings)) {
#if TUNER_TEST_BUILD
  file_.FailAllocationAt(settings.failAllocationAt);
#endif
}

Stream::~Stream() { Shutdown(); }

std::shared_ptr<Stream> Stream::OpenUrl(const std::string& url, DWORD offset, DOWNLOADPROC* proc,
                                        void* user, const StreamSettings& settings, int* error) {
  const auto deadline = std::chrono::steady_clock::now() + kCreateDeadline;
  std::shared_ptr<Stream> stream(new Stream(url, settings));
  stream->download_ = std::make_unique<HttpDownload>(stream->file_, proc, user);
  if (!stream->download_->Begin(url, offset, kHeadWaitMs, error)) {
    stream->Shutdown();
    return nullptr;
  }
  stream->headers_ = stream->download_->Headers();
  if (!stream->Begin(deadline, error)) {
    stream->Shutdown();
    return nullptr;
  }
  return stream;
}

std::shared_ptr<Stream> Stream::OpenBytes(const std::uint8_t* bytes, std::size_t count,
                                          std::string name, const StreamSettings& settings,
                                          int* error) {
  std::shared_ptr<Stream> stream(new Stream(std::move(name), settings));
  if (!stream->file_.Announce(std::int64_t(count)) || !stream->file_.Append(bytes, count)) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
  stream->file_.Finish(true);
  if (!stream->Begin(std::chrono::steady_clock::now(), error)) {
    stream->Shutdown();
    return nullptr;
  }
  return stream;
}

bool Stream::Begin(std::chrono::steady_clock::time_point deadline, int* error) {
  FormatFailure failure = FormatFailure::NotMp3;
  std::optional<StreamFormat> format = RecogniseFormat(file_, deadline, &failure);
  if (!format) {
    *error = ErrorOf(failure);
    return false;
  }
  format_ = std::move(*format);
  std::string capturePath;
#if TUNER_TEST_BUILD
  capturePath = settings_.capturePath;
#endif
  playback_.emplace(format_.facts, settings_.silent, capturePath);
  decoder_.emplace(mutex_, wake_, file_, format_, *playback_);
  return decoder_->Start(error);
}

void Stream::Shutdown() {
  file_.Wake();
  if (decoder_) decoder_->Stop();
  if (download_) download_->Stop();
  std::lock_guard lock(mutex_);
  // What the output has played up to the moment of the free counts as played.
  if (playback_) playback_->Close(NowMicros());
}

// --- transport -----------------------------------------------------------------------

void Stream::JumpLocked(std::int64_t frame, std::size_t fileOffset, std::int64_t discard) {
  decoder_->JumpLocked(fileOffset, discard);
  playback_->Jump(frame, NowMicros());
  wake_.notify_all();
}

void Stream::Play(bool restart) {
  std::lock_guard lock(mutex_);
  if (restart || playback_->Ended()) JumpLocked(0, format_.firstAudioFrame, 0);
  playback_->Play(NowMicros());
  wake_.notify_all();
}

void Stream::Stop() {
  std::lock_guard lock(mutex_);
  playback_->Stop(NowMicros());
}

bool Stream::Pause(int* error) {
  std::lock_guard lock(mutex_);
  return playback_->Pause(NowMicros(), error);
}

bool Stream::SetPosition(std::int64_t bytes, int* error) {
  const std::int64_t frame = bytes / BytesPerSampleFrame(format_.facts);
  const std::int64_t length = Length();
  if (bytes < 0 || (length >= 0 && bytes > length)) {
    *error = BASS_ERROR_POSITION;
    return false;
  }
  std::size_t offset = format_.firstAudioFrame;
  std::int64_t discard = 0;
  if (frame > 0) {
    // Decoding starts at the frame that holds the position and drops what comes before.
    const std::int64_t index = frame / format_.frame.samplesPerFrame;
    const std::int64_t found = FindFrameOffset(file_, format_.frame, format_.firstAudioFrame, index);
    if (found < 0) {
      *error = BASS_ERROR_POSITION;  // not downloaded yet
      return false;
    }
    offset = std::size_t(found);
    discard = frame - index * format_.frame.samplesPerFrame;
  }
  std::lock_guard lock(mutex_);
  JumpLocked(frame, offset, discard);
  return true;
}

// --- queries ---------------------------------------------------------------------------

std::int64_t Stream::Position(bool decoded) {
  std::lock_guard lock(mutex_);
  const std::int64_t frame = decoded ? playback_->DecodedFrame() : playback_->PlayedFrame(NowMicros());
  return frame * BytesPerSampleFrame(format_.facts);
}

std::int64_t Stream::Length() {
  std::lock_guard lock(mutex_);
  return decoder_->LengthLocked();
}

std::int64_t Stream::FilePosition(DWORD mode, int* error) {
  std::lock_guard lock(mutex_);
  const std::int64_t received = std::int64_t(file_.Received());
  const std::int64_t size = file_.Size() >= 0 ? file_.Size() : received;
  const std::int64_t start = std::int64_t(format_.audioStart);
  const std::int64_t decoded = std::int64_t(decoder_->PositionLocked());
  switch (mode) {
    case BASS_FILEPOS_CURRENT:
      // Decoding runs ahead of what is heard; the end of the file is reported only once
      // the last sample has been played, so a caller that takes it for the end of the
      // song does not cut the song short.
      if (playback_->Ended()) return size - start;
      return std::max<std::int64_t>(0, std::min(decoded - start, size - start - 1));
    case BASS_FILEPOS_DOWNLOAD:
      return received;
    case BASS_FILEPOS_END:
      return size;
    case BASS_FILEPOS_START:
      return start;
    case BASS_FILEPOS_CONNECTED:
      return download_ && !file_.Finished() ? 1 : 0;
    case BASS_FILEPOS_BUFFER:
      return std::max<std::int64_t>(0, received - decoded);
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

bool Stream::Level(float* levels, float seconds, DWORD flags, int* error) {
  std::lock_guard lock(mutex_);
  return playback_->Level(levels, seconds, flags, NowMicros(), error);
}

DWORD Stream::LevelWord(int* error) {
  float levels[2] = {};
  if (!Level(levels, 0.02f, BASS_LEVEL_STEREO, error)) return DWORD(-1);
  const auto scale = [](float v) { return DWORD(std::lround(std::min(v, 1.0f) * 32768)); };
  return scale(levels[0]) | (scale(levels[1]) << 16);
}

DWORD Stream::Data(void* buffer, DWORD length, int* error) {
  std::lock_guard lock(mutex_);
  if (length == BASS_DATA_AVAILABLE) return DWORD(playback_->UnplayedBytes());
  if ((length & (BASS_DATA_FFT256 | BASS_DATA_FIXED)) || buffer == nullptr) {
    *error = BASS_ERROR_ILLPARAM;  // spectra are not offered
    return DWORD(-1);
  }
  return playback_->RecentSamples(buffer, length, NowMicros());
}

double Stream::BytesToSeconds(std::int64_t bytes) const {
  return ::BytesToSeconds(format_.facts, bytes);
}

float Stream::Volume() {
  std::lock_guard lock(mutex_);
  return playback_->Volume();
}

void Stream::SetVolume(float volume) {
  std::lock_guard lock(mutex_);
  playback_->SetVolume(volume);
}

void Stream::Info(BASS_CHANNELINFO* info) const {
  *info = BASS_CHANNELINFO{};
  info->freq = DWORD(format_.facts.sampleRate);
  info->chans = DWORD(format_.facts.channels);
  info->ctype = BASS_CTYPE_STREAM_MP3;
  info->filename = name_.c_str();
}

const char* Stream::Tags(DWORD type, int* error) {
  std::lock_guard lock(mutex_);
  if (type == BASS_TAG_ID3V2 && !format_.id3v2.empty()) {
    return reinterpret_cast<const char*>(format_.id3v2.data());
  }
  if (type == BASS_TAG_HTTP && !headers_.empty()) return headers_.c_str();
  if (type == BASS_TAG_ID3 && file_.Complete()) {
    // The 128-byte tag at the very end of the file, once the whole file is here.
    const std::size_t received = file_.Received();
    if (id3v1_.empty() && received >= 128 + format_.audioStart) {
      std::vector<std::uint8_t> tail(128);
      file_.Read(received - 128, tail.data(), 128);
      if (tail[0] == 'T' && tail[1] == 'A' && tail[2] == 'G') id3v1_ = std::move(tail);
    }
    if (!id3v1_.empty()) return reinterpret_cast<const char*>(id3v1_.data());
  }
  *error = BASS_ERROR_NOTAVAIL;
  return nullptr;
}
