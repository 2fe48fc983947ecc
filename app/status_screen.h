#pragma once
// The two rows the player loop redraws on every pass: the "Played:" status line and the
// colours of the credit banner, which follow the audio level.
#include <array>
#include <cstdint>
#include <string>

// Builds the status line into `line`, reusing its storage so the 15 ms loop allocates
// nothing once the first line has been built. No line break is added.
void BuildStatusLine(std::string& line, std::int64_t position, double playedSeconds,
                     std::int64_t lengthBytes, double lengthSeconds, float volume);

// The same line as a fresh string, for callers that do not care about allocation.
std::string StatusLineText(std::int64_t position, double playedSeconds, std::int64_t lengthBytes,
                           double lengthSeconds, float volume);

// The played time as hours:minutes:seconds:milliseconds, cut down to whole milliseconds.
std::string PlayedClock(double playedSeconds);

// `volume` in percent, rounded to the nearest whole number with ties to even.
std::uint8_t VolumePercent(float volume);

// Row of the level colour tables for a level reading; always within 0 to 7.
int LevelIndex(float level);

inline constexpr std::array<std::uint8_t, 8> levelTextColours = {15, 15, 15, 14, 14, 13, 5, 1};

// The back colours of the two quietest rows are the program's own background colour.
std::uint8_t LevelBackColour(int index, std::uint8_t backColour);

struct TextColours {
  std::uint8_t text;
  std::uint8_t back;
};

// Colours of the banner for a level reading; with the level meter off, the defaults.
TextColours BannerColours(float level, std::uint8_t backColour, bool levelMeter,
                          std::uint8_t textColour);

// Console character attribute of text colour on background colour.
inline std::uint16_t ConsoleAttribute(TextColours colours) {
  return static_cast<std::uint16_t>(colours.text + 16 * colours.back);
}
