#include "audio/song_start_win.h"

#include <memory>
#include <new>

#include "app/key_reader_win.h"
#include "app/player_state.h"
#include "app/screen_win.h"
#include "app/target_settings.h"
#include "audio/audio_library_win.h"
#include "audio/song_info.h"
#include "audio/song_stepping.h"
#include "logo/logo_window_win.h"
#include "web/catalogue.h"
#include "web/catalogue_win.h"

namespace {

std::unique_ptr<SeededRandom>& Random() {
  static std::unique_ptr<SeededRandom> random;
  return random;
}

// Lets the redirect settle, but a waiting key cuts the wait short so the player stays
// responsive while the user skips quickly.
void SettlePause() {
  if (KeyWaiting()) return;
  Sleep(50);
  if (KeyWaiting()) return;
  Sleep(100);
}

void ReadStreamFacts(HSTREAM stream, PlayerState& player) {
  player.lengthBytes = audio::ChannelGetLength(stream);
  player.fileSize = audio::StreamGetFilePosition(stream, BASS_FILEPOS_SIZE);
  audio::ChannelGetAttribute(stream, BASS_ATTRIB_BITRATE, &player.bitrate);
  player.audioStart = audio::StreamGetFilePosition(stream, BASS_FILEPOS_START);
  player.lengthSeconds = audio::ChannelBytes2Seconds(stream, player.lengthBytes);
}

}  // namespace

void SeedSongRandom(std::uint32_t seed) { Random() = std::make_unique<SeededRandom>(seed); }

namespace {

// The song's road; `stream` holds the new stream from the moment it exists.
void RunSongStart(HSTREAM& stream) {
  PlayerState& player = Player();
  if (!Random()) SeedSongRandom(GetTickCount());
  player.songNumber =
      NextSongNumber(player.playOrder, player.songNumber, player.latestSong, *Random());
  player.pageUrl = SongAddress(Target().site, player.songNumber);
  CaptureSongRedirect(player.songNumber);
  // A failed request's message shows while the song is still being opened.
  ShowScreenNow();
  SettlePause();
  player.title = FileNameOfUrl(player.audioUrl.Get());

  stream = audio::StreamCreateURL(player.pageUrl);
  ReadStreamFacts(stream, player);
  audio::ChannelSetAttribute(stream, BASS_ATTRIB_VOL, player.volume);
  audio::ChannelPlay(stream, true);
  ShowSong(player);
  RefreshLogo();
}

}  // namespace

HSTREAM StartSong() {
  HSTREAM stream = 0;
  try {
    RunSongStart(stream);
    return stream;
  } catch (const std::bad_alloc&) {
    // No memory to start the song: it is passed over like a stream that never opened,
    // and "d" has nothing to save.
    if (stream != 0) {
      audio::ChannelStop(stream);
      audio::StreamFree(stream);
    }
    Player().lengthBytes = -1;
    Player().fileSize = -1;
    return 0;
  }
}
