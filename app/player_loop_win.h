#pragma once
// The player loop: keys, the status screen, the end of each song. Returns the stream
// that is current when a quit key is pressed.
#include "audio/bass_api.h"

HSTREAM RunPlayerLoop(HSTREAM firstSong);
