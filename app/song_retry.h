#pragma once
// How the player paces its tries while no song can be played. One failed song is passed
// over at once, and so is the second of a run; from the third failure in a row the player
// waits before it tries the next song, twice as long each time up to half a minute, so a
// site whose every song fails (its file server down, say) is not asked again as fast as it
// can answer. A song that plays ends the run.
#include <cstdint>

// Songs of a run that are passed over without a wait.
inline constexpr unsigned kFailuresPassedOverAtOnce = 2;
inline constexpr std::uint32_t kLongestRetryWaitMilliseconds = 30000;

// Whether a song that has just been started ends a run of failures: its stream opened and
// tells its length. Either fact unknown (-1) has the loop pass the song over at once.
bool SongPlays(std::int64_t fileSize, std::int64_t lengthBytes);

// The wait before the next try once `failedInARow` songs in a row have failed: none for the
// first two, then 1 s, 2 s, 4 s and so on, never more than 30 s.
std::uint32_t RetryWaitMilliseconds(unsigned failedInARow);

// The run of failed songs and when the next try may go. Times are milliseconds of any
// clock that only goes forward.
class SongRetry {
 public:
  // A song has just been started at `now`.
  void SongStarted(bool plays, std::uint64_t now);
  // Whether the next song may be started at `now`: always, unless the player is waiting.
  bool MayTry(std::uint64_t now) const { return now >= nextTry_; }
  // Whole seconds left of the wait, rounded up; 0 when the player is not waiting.
  unsigned SecondsLeft(std::uint64_t now) const;
  unsigned FailedInARow() const { return failedInARow_; }

 private:
  unsigned failedInARow_ = 0;
  std::uint64_t nextTry_ = 0;
};
