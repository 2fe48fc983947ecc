#pragma once
// One MP3 stream of our Bass.dll: the whole file kept in memory (downloaded on a thread of
// its own, or handed over at once), decoded ahead with ACM on a player thread, and played
// through the default output device or, when none opens, against a silent real-time
// clock. Every state change is made under one mutex; calls may come from any thread.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/bass_api.h"
#include "standins/bass/acm_decoder_win.h"
#include "standins/bass/downloaded_file.h"
#include "standins/bass/frame_cursor.h"
#include "standins/bass/http_download_win.h"
#include "standins/bass/pcm_history.h"
#include "standins/bass/playback_clock.h"
#include "standins/bass/stream_facts.h"
#include "standins/bass/wav_writer.h"
#include "standins/bass/wave_output_win.h"

struct StreamSettings {
  bool silent = false;      // play against the clock even where a device exists
  std::string capturePath;  // WAV file of everything played, after volume; empty: none
};

// The library-wide output volume (BASS_SetVolume), applied on top of each stream's.
std::atomic<float>& OutputVolume();

class Stream {
 public:
  // Both return null with a BASS error code in *error when no stream can be made.
  static std::shared_ptr<Stream> OpenUrl(const std::string& url, DWORD offset,
                                         DOWNLOADPROC* proc, void* user,
                                         const StreamSettings& settings, int* error);
  static std::shared_ptr<Stream> OpenBytes(std::vector<std::uint8_t> bytes, std::string name,
                                           const StreamSettings& settings, int* error);
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  ~Stream();
  // Ends the download and the player; returns once both threads are gone.
  void Shutdown();

  // Transport; false with *error set when refused.
  bool Play(bool restart);
  void Stop();
  bool Pause(int* error);
  bool SetPosition(std::int64_t bytes, int* error);

  std::int64_t Position(bool decoded);
  std::int64_t Length();  // -1 while unknown
  std::int64_t FilePosition(DWORD mode, int* error);
  bool Level(float* levels, float seconds, DWORD flags, int* error);
  DWORD LevelWord(int* error);
  DWORD Data(void* buffer, DWORD length, int* error);
  DWORD Active();

  float Bitrate() const { return facts_.bitrateKbps; }
  float Volume();
  void SetVolume(float volume);
  double BytesToSeconds(std::int64_t bytes) const;
  void Info(BASS_CHANNELINFO* info) const;
  const char* Tags(DWORD type, int* error);

 private:
  enum class State { Stopped, Playing, Paused };
  explicit Stream(const StreamSettings& settings);
  static std::int64_t NowMicros();

  bool Recognise(std::chrono::steady_clock::time_point deadline, int* error);
  bool Start(int* error);
  void PlayerLoop();
  bool DecodeStep();
  void OutputStep(std::int64_t nowMicros);
  // With the mutex held:
  std::int64_t PlayedFrameLocked(std::int64_t nowMicros);
  void RestartLocked(std::int64_t frame, std::size_t fileOffset, std::int64_t discard);
  void HoldLocked(std::int64_t nowMicros);
  void ResumeLocked(std::int64_t nowMicros);
  void EmitLocked(std::int64_t frames);
  bool DeviceStalledLocked();
  void AbandonDeviceLocked(std::int64_t nowMicros);
  void CaptureLocked(const std::int16_t* samples, std::size_t count);

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

  // Player thread only.
  AcmMp3Decoder decoder_;
  std::unique_ptr<FrameCursor> cursor_;
  std::vector<std::uint8_t> frameBytes_;
  std::vector<std::int16_t> decoded_;
  std::int64_t discard_ = 0;  // frames to drop after a seek into the middle of a frame

  std::thread player_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
  State state_ = State::Stopped;
  bool ended_ = false;
  std::uint64_t generation_ = 0;
  bool reopenDecoder_ = false;
  std::size_t seekOffset_ = 0;
  std::int64_t seekDiscard_ = 0;
  std::deque<std::int16_t> pending_;  // decoded, not yet played (or queued to the device)
  std::int64_t pendingFrame_ = 0;     // frame number of pending_'s first frame
  bool decodeEnded_ = false;
  std::size_t decodePosition_ = 0;    // file offset after the last frame decoded
  std::int64_t lengthBytes_ = -1;
  bool lengthExact_ = false;
  PlaybackClock clock_{44100};
  WaveOutput device_;
  bool useDevice_ = false;
  std::int64_t deviceBase_ = 0;  // frame number at which the device's count began
  std::int64_t heldFrame_ = 0;   // the position while the device is not playing
  std::int64_t deviceCount_ = -1;  // the device's count when it last moved on
  std::chrono::steady_clock::time_point deviceProgressAt_;
  std::unique_ptr<PcmHistory> history_;
  float volume_ = 1.0f;
  WavWriter capture_;
  std::vector<std::int16_t> scratch_;
  std::chrono::steady_clock::time_point lastFlush_;
};
