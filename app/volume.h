#pragma once
// The volume keys. The volume is stored in single precision while each step is summed and
// compared in double precision, which is why the top value is 1.0000001 and the lowest
// reachable from the top is 0.0499999635: the players have always stepped it this way.

inline constexpr float kStartVolume = 0.15f;

// "+": a step of 0.05 up while the volume is at most 1.0.
float VolumeUp(float volume);

// "-": a step of 0.05 down while the volume is above 0.05.
float VolumeDown(float volume);
