#pragma once
// Turning the next song of the catalogue into a playing stream.
#include <cstdint>

#include "audio/bass_api.h"

// Seeds the song draw once per run.
void SeedSongRandom(std::uint32_t seed);

// Steps the song number, resolves the song's file name, opens and starts its stream, and
// prints the song's five lines; returns the stream (0 when none could be opened).
HSTREAM StartSong();
