#pragma once
// One MP3 stream of our Bass.dll: the whole file kept in memory (downloaded on a thread of
// its own, or handed over at once), decoded ahead with ACM on a player thread, and played
// through an output (the default sound device, or a silent real-time clock when none
// opens). Every state change is made under one mutex; calls may come from any thread.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/bass_api.h"
#include "standins/bass/acm_decoder_win.h"
#include "standins/bass/audio_output.h"
#include "standins/bass/downloaded_file.h"
#include "standins/bass/frame_cursor.h"
#include "standins/bass/http_download_win.h"
#include "standins/bass/pcm_history.h"
#include "standins/bass/pending_audio.h"
#include "standins/bass/stream_facts.h"
#include "standins/bass/wav_writer.h"
#include "platform/owners_win.h"

struct StreamSettings {
  bool silent = false;      // play against the clock even where a device exists
  std::string capturePath;  // WAV file of everything played, after volume; empty: none
  // For tests of the failure path: the download's memory runs out at this byte.
  std::size_t failAllocationAt = SIZE_MAX;
  // The most of its file the stream may hold (the process's budget still applies).
  std::size_t cap = DownloadedFile::kStreamCap;
};

// The library-wide output volume (BASS_SetVolume), applied on top of each stream's.
std::atomic<float>& OutputVolume();

class Stream {
 public:
  // Both return null with a BASS error code in *error when no stream can be made.
  static std::shared_ptr<Stream> OpenUrl(const std::string& url, DWORD offset,
                                         DOWNLOADPROC* proc, void* user,
                                         const StreamSettings& settings, int* error);
  static std::shared_ptr<Stream> OpenBytes(const std::uint8_t* bytes, std::size_t count,
                                           std::string name, const StreamSettings& settings,
                                           int* error);
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  ~Stream();
  // Ends the download and the player; returns once neither touches the stream.
  void Shutdown();

  // Transport; false with *error set when refused.
  void Play(bool restart);
  void Stop();
  bool Pause(int* error);
  bool SetPosition(std::int64_t bytes, int* error);

  std::int64_t Position(bool decoded);
  std::int64_t Length();  // -1 while unknown
  std::int64_t FilePosition(DWORD mode, int* error);
  bool Level(float* levels, float seconds, DWORD flags, int* error);
  DWORD LevelWord(int* error);
  DWORD Data(void* buffer, DWORD length, int* error);

  float Bitrate() const { return facts_.bitrateKbps; }
  float Volume();
  // Any finite value: negative counts as silence, above 1 amplifies (with clipping).
  void SetVolume(float volume);
  double BytesToSeconds(std::int64_t bytes) const;
  void Info(BASS_CHANNELINFO* info) const;
  const char* Tags(DWORD type, int* error);

 private:
  // What only the player thread touches.
  struct Decoding {
    AcmMp3Decoder decoder;
    std::unique_ptr<FrameCursor> cursor;
    std::vector<std::uint8_t> frameBytes;
    std::vector<std::int16_t> samples;
    std::int64_t discard = 0;  // frames to drop after a seek into the middle of a frame
  };
  // A restart or seek the player thread has yet to act on.
  struct Jump {
    bool pending = false;
    std::size_t fileOffset = 0;
    std::int64_t discard = 0;
  };

  explicit Stream(const StreamSettings& settings);
  static std::int64_t NowMicros();

  bool Recognise(std::chrono::steady_clock::time_point deadline, int* error);
  bool Start(int* error);
  void PlayerLoop();
  bool DecodeStep();
  // With the mutex held:
  OutputFeed FeedLocked();
  void OutputStepLocked(std::int64_t nowMicros);
  std::int64_t RestMicrosLocked(std::int64_t nowMicros);
  void FallBackToClockLocked(std::int64_t nowMicros);
  void RestartLocked(std::int64_t frame, std::size_t fileOffset, std::int64_t discard);
  void EndLocked();

  StreamSettings settings_;
  std::string name_;
  DownloadedFile file_;
  std::unique_ptr<HttpDownload> download_;

  // Fixed once the first frame is recognised.
  FrameHeader format_;
  std::size_t audioStart_ = 0;
  std::size_t firstAudioFrame_ = 0;
  StreamFacts facts_;
  std::vector<std::uint8_t> id3v2_;
  std::vector<std::uint8_t> id3v1_;
  std::string headers_;

  Decoding decoding_;
  // Signalled when the player thread no longer touches the stream; the thread itself keeps
  // the library loaded until it has ended.
  std::shared_ptr<UniqueHandle> playerDone_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  Transport transport_ = Transport::Stopped;
  bool ended_ = false;
  std::uint64_t generation_ = 0;  // counts jumps, so a batch decoded before one is dropped
  Jump jump_;
  PendingAudio pending_{2};
  bool decodeEnded_ = false;
  std::size_t decodePosition_ = 0;  // file offset after the last frame decoded
  std::int64_t lengthBytes_ = -1;
  bool lengthExact_ = false;
  std::unique_ptr<AudioOutput> output_;
  std::unique_ptr<PcmHistory> history_;
  float volume_ = 1.0f;
  WavWriter capture_;
  std::vector<std::int16_t> scratch_;
  std::chrono::steady_clock::time_point lastFlush_;
};
