#include "standins/bass/stream_decoder_win.h"

#include <algorithm>
#include <chrono>

#include "audio/bass_api.h"
#include "platform/module_thread_win.h"

namespace {

// Decoded audio kept ready ahead of what is heard.
constexpr int kLeadMs = 500;
// Frames handed to the codec at a time (about a quarter second at 128 kbps).
constexpr std::size_t kBatchBytes = 4096;

std::int64_t NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

StreamDecoder::StreamDecoder(std::mutex& lock, std::condition_variable& wake,
                             const DownloadedFile& file, const StreamFormat& format,
                             Playback& playback)
    : lock_(lock),
      wake_(wake),
      file_(file),
      format_(format),
      playback_(playback),
      cursor_(format.frame, format.firstAudioFrame),
      position_(format.firstAudioFrame),
      lengthBytes_(format.facts.lengthBytes) {}

bool StreamDecoder::Start(int* error) {
  if (!codec_.Open(format_.frame)) {
    *error = BASS_ERROR_CODEC;
    return false;
  }
  auto done = std::make_shared<UniqueHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!*done || !StartModuleThread(ThisModule(), [this, done] {
        Run();
        SetEvent(done->get());  // from here on the stream may be gone
        return ModuleRelease::Release;
      })) {
    *error = BASS_ERROR_MEM;
    return false;
  }
  done_ = std::move(done);
  return true;
}

void StreamDecoder::Stop() {
  {
    std::lock_guard lock(lock_);
    quit_ = true;
  }
  wake_.notify_all();
  if (done_) WaitForSingleObject(done_->get(), INFINITE);
  done_.reset();
  codec_.Close();
}

void StreamDecoder::JumpLocked(std::size_t fileOffset, std::int64_t discard) {
  ++generation_;
  jump_ = Jump{true, fileOffset, discard};
  position_ = fileOffset;
}

std::int64_t StreamDecoder::LengthLocked() {
  // A file whose size the server did not give is measured once it is all here.
  if (lengthBytes_ < 0) lengthBytes_ = MeasuredLength(format_, file_);
  return lengthBytes_;
}

void StreamDecoder::Run() {
  try {
    std::unique_lock lock(lock_);
    while (!quit_) {
      lock.unlock();
      const bool progressed = Step();
      lock.lock();
      if (quit_) break;
      const std::int64_t now = NowMicros();
      playback_.Advance(now);
      if (!progressed) wake_.wait_for(lock, std::chrono::microseconds(playback_.RestMicros(now)));
    }
  } catch (...) {
    // Out of memory, say: the song ends where it is; the program that plays it goes on.
    std::lock_guard lock(lock_);
    playback_.EndHere();
  }
}

bool StreamDecoder::Step() {
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(lock_);
    if (jump_.pending) {
      jump_.pending = false;
      // A fresh codec forgets the bit reservoir and filter state of the old position.
      codec_.Open(format_.frame);
      cursor_.MoveTo(jump_.fileOffset);
      discard_ = jump_.discard;
    }
    generation = generation_;
    const std::int64_t lead = std::int64_t(format_.facts.sampleRate) * kLeadMs / 1000;
    if (playback_.DecodeEnded() || playback_.PendingFrames() >= lead) return false;
  }
  frameBytes_.clear();
  const FrameBatch batch = cursor_.Next(file_, kBatchBytes, frameBytes_);
  if (batch.step == CursorStep::Wait) return false;
  const bool end = batch.step == CursorStep::End;
  samples_.clear();
  codec_.Decode(frameBytes_.data(), frameBytes_.size(), end, samples_);

  std::lock_guard lock(lock_);
  if (generation != generation_) return true;  // a restart or seek overtook this batch
  const auto channels = std::size_t(format_.facts.channels);
  const std::size_t skip = std::min(samples_.size(), std::size_t(discard_) * channels);
  discard_ -= std::int64_t(skip / channels);
  playback_.Append(samples_.data() + skip, samples_.size() - skip);
  position_ = cursor_.Position();
  if (end) {
    const std::int64_t decodedBytes = playback_.EndOfDecoding() * BytesPerSampleFrame(format_.facts);
    // An estimated length, or one the file fell short of, becomes what was decoded.
    if (!format_.facts.lengthExact || !file_.Complete() || lengthBytes_ < 0) {
      lengthBytes_ = decodedBytes;
    }
  }
  return true;
}
