#pragma once
// One MP3 stream of our Bass.dll: its file, kept whole in memory (downloaded on a thread of
// its own, or handed over at once), recognised before the stream exists, then decoded ahead
// on a thread of its own (stream_decoder_win.h) and played (playback_win.h). One mutex keeps
// the parts consistent; calls may come from any thread.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/bass_api.h"
#include "standins/bass/downloaded_file.h"
#include "standins/bass/http_download_win.h"
#include "standins/bass/playback_win.h"
#include "standins/bass/stream_decoder_win.h"
#include "standins/bass/stream_format.h"
#include "standins/bass/stream_settings.h"

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
  // Ends the download and the decoding; returns once neither touches the stream.
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

  float Bitrate() const { return format_.facts.bitrateKbps; }
  float Volume();
  void SetVolume(float volume);
  double BytesToSeconds(std::int64_t bytes) const;
  void Info(BASS_CHANNELINFO* info) const;
  const char* Tags(DWORD type, int* error);

 private:
  Stream(std::string name, const StreamSettings& settings);
  // Recognises the file and starts decoding; false with *error set when it cannot.
  bool Begin(std::chrono::steady_clock::time_point deadline, int* error);
  void JumpLocked(std::int64_t frame, std::size_t fileOffset, std::int64_t discard);

  StreamSettings settings_;
  std::string name_;
  DownloadedFile file_;
  std::unique_ptr<HttpDownload> download_;
  std::string headers_;
  StreamFormat format_;  // fixed once recognised

  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Playback> playback_;
  std::optional<StreamDecoder> decoder_;
  std::vector<std::uint8_t> id3v1_;
};
