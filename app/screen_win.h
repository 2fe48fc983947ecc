#pragma once
// The player's screen, written by the main thread alone. It holds the screen as cells (the
// five song lines, the status line, the banner and the message row) and each pass writes
// the cells that changed, in one call. Other threads only record what the screen must
// show: a message, or that the copy reads its song.
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "app/player_state.h"

// ---- main thread ----------------------------------------------------------------------

// Start-up, right after the screen was cleared: from here the screen has its layout.
void TakeScreen();
// Start-up: a line on the first row until the first song's lines replace it; shown at once.
void ShowNotice(std::string_view text);
// Song start, once its facts are read: a song with a stream clears the screen ("Cls", in
// the default colours) and lays its five lines; a song without one changes nothing.
void ShowSong(const PlayerState& player);

// One pass of the player loop: the status line and the banner (only while a stream is
// open), the message row, then whatever changed goes out.
void DrawScreen(std::int64_t position, double playedSeconds, float level);
// Writes what changed now, between passes (the first song's lines, a failed song page).
void ShowScreenNow();
// The copy has ended: its "Downloading..." goes, a message stays.
void ScreenCopyEnded();

// ---- any thread -------------------------------------------------------------------------

// A message on a line of its own, its parts run together: an ordinary line before the
// screen has its layout (start-up, main thread), then recorded for the message row.
// Given in parts, a message needs no memory of its own, so a failing request can always
// be reported.
void ReportMessage(std::initializer_list<std::string_view> parts);
// The copy has its answer and reads the song: "Downloading...".
void ReportCopyReading();
