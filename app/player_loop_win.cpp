#include "app/player_loop_win.h"

#include <windows.h>

#include <charconv>

#include "app/key_reader_win.h"
#include "app/keys.h"
#include "app/options.h"
#include "app/end_of_song.h"
#include "app/player_state.h"
#include "app/song_retry.h"
#include "app/screen_win.h"
#include "app/volume.h"
#include "audio/audio_library_win.h"
#include "audio/song_start_win.h"
#include "web/save_copy_win.h"

namespace {

struct Loop {
  HSTREAM stream = 0;
  bool paused = false;
  float level = 0.0f;
  SongRetry retry;
  unsigned waitShown = 0;  // the seconds the wait's message shows; 0: none shown
};

void NoteSongStart(Loop& loop) {
  const PlayerState& player = Player();
  loop.retry.SongStarted(SongPlays(player.fileSize, player.lengthBytes), GetTickCount64());
  // A song whose lines are shown has cleared the screen, the message row with it.
  if (player.fileSize != -1) loop.waitShown = 0;
}

void MoveOnToNewSong(Loop& loop) {
  audio::ChannelStop(loop.stream);
  audio::StreamFree(loop.stream);
  loop.stream = StartSong();
  Player().lengthBytes = audio::ChannelGetLength(loop.stream);
  loop.paused = false;
  NoteSongStart(loop);
}

// While the player waits before its next try, the message row says so, counting down.
// A new message only when the count changes, so a wait costs one console write a second
// and an error line that comes meanwhile stays until then.
void ShowRetryWait(Loop& loop) {
  const unsigned left = loop.retry.SecondsLeft(GetTickCount64());
  if (left == 0 || left == loop.waitShown) return;
  loop.waitShown = left;
  char digits[12];
  const auto end = std::to_chars(digits, digits + sizeof digits, left).ptr;
  ReportMessage({"No song could be played; next try in ",
                 std::string_view(digits, end - digits), " s"});
}

// Carries out one key; false when the key ends the player.
bool Act(KeyAction action, Loop& loop) {
  PlayerState& player = Player();
  switch (action) {
    case KeyAction::Quit:
      return false;
    case KeyAction::NextSong:
      MoveOnToNewSong(loop);
      break;
    case KeyAction::Restart:
      audio::ChannelRestart(loop.stream);
      break;
    case KeyAction::PauseOrResume:
      if (loop.paused) {
        audio::ChannelPlay(loop.stream, false);
      } else {
        audio::ChannelPause(loop.stream);
      }
      loop.paused = !loop.paused;
      break;
    case KeyAction::VolumeUp:
      player.volume = VolumeUp(player.volume);
      audio::ChannelSetAttribute(loop.stream, BASS_ATTRIB_VOL, player.volume);
      break;
    case KeyAction::VolumeDown:
      player.volume = VolumeDown(player.volume);
      audio::ChannelSetAttribute(loop.stream, BASS_ATTRIB_VOL, player.volume);
      break;
    case KeyAction::RandomOrder:
      player.playOrder = PlayOrder::Random;
      MoveOnToNewSong(loop);
      break;
    case KeyAction::NewestFirstOrder:
      player.playOrder = PlayOrder::NewestFirst;
      player.songNumber = StartingSongNumber(PlayOrder::NewestFirst, player.latestSong);
      MoveOnToNewSong(loop);
      break;
    case KeyAction::SaveCopy:
      StartDownload();
      break;
    case KeyAction::Ignored:
    case KeyAction::None:
      break;
  }
  return true;
}

}  // namespace

HSTREAM RunPlayerLoop(HSTREAM firstSong) {
  Loop loop;
  loop.stream = firstSong;
  PlayerState& player = Player();
  NoteSongStart(loop);
  for (;;) {
    const std::string key = ReadKey();
    const KeyAction action = ActionOfKey(key);
    if (action != KeyAction::None && IsDrained(action)) {
      DrainRepeats(key, ReadKey, [](int milliseconds) { Sleep(milliseconds); });
    }
    if (!Act(action, loop)) return loop.stream;

    audio::ChannelGetLevelEx(loop.stream, &loop.level);
    const std::int64_t position = audio::ChannelGetPosition(loop.stream);
    const double playedSeconds = audio::ChannelBytes2Seconds(loop.stream, position);
    DrawScreen(position, playedSeconds, loop.level);
    const std::int64_t filePosition =
        audio::StreamGetFilePosition(loop.stream, BASS_FILEPOS_CURRENT);
    if (SongHasEnded(position, player.lengthBytes, player.fileSize, player.audioStart,
                     filePosition) &&
        loop.retry.MayTry(GetTickCount64())) {
      MoveOnToNewSong(loop);
    }
    ShowRetryWait(loop);
    PollDownload();
    Sleep(15);
  }
}
