#pragma once
// The one process-wide record of the player: settings, the current song's facts and the
// shared handles. Each field notes who writes it; everything else only reads.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

enum class PlayOrder : std::uint8_t { Random = 0, NewestFirst = 1, OldestFirst = 2 };
enum class DownloadState : std::uint8_t { Idle = 0, Running = 1, Finished = 2 };

// The redirect target is written by whichever thread's request was redirected (the main
// thread for song pages, the save-a-copy thread for downloads), so it is kept behind a
// lock and readers get a copy.
class SharedText {
 public:
  void Set(std::string text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
  }
  std::string Get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

struct PlayerState {
  std::string host;                        // start-up
  std::string creditBanner;                // start-up
  std::int64_t latestSong = 0;             // start-up: newest song number (16-bit value)
  std::uint16_t songNumber = 0;            // start-up, key "1", song start
  PlayOrder playOrder = PlayOrder::Random; // start-up, keys "0" and "1"
  float volume = 0.15f;                    // volume keys
  bool levelMeter = true;                  // start-up ("/nolevel")
  std::uint8_t textColour = 15;            // initial values
  std::uint8_t backColour = 4;
  std::uint16_t statusRow = 6;             // start-up: the screen's layout (ScreenRows)
  std::atomic<DownloadState> downloadState{DownloadState::Idle};  // main thread and copy thread
  std::int64_t lengthBytes = -1;           // song start, loop after each song start
  std::int64_t fileSize = -1;              // song start; -1: no usable stream
  std::int64_t audioStart = 0;             // song start
  double lengthSeconds = 0.0;              // song start
  std::string pageUrl;                     // song start
  SharedText audioUrl;                     // redirect handler
  std::string title;                       // song start
  float bitrate = 0.0f;                    // song start
  void* httpSession = nullptr;             // start-up; each exchange connects on it for itself
  void* consoleWindow = nullptr;           // start-up
};

// The process-wide instance.
PlayerState& Player();
