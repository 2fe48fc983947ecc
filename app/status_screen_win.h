#pragma once
// Drawing the two rows the player loop refreshes on every pass.
#include <cstdint>

void DrawStatusLine(std::int64_t position, double playedSeconds, std::int64_t lengthBytes,
                    double lengthSeconds, float volume, std::int64_t fileSize);
void DrawBannerRow(float level, bool levelMeter, std::int64_t fileSize);
