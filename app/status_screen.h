#pragma once
// The two rows the player loop redraws on every pass: the "Played:" status line and the
// colours of the credit banner, which follow the audio level.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Builds the status line into `line`, reusing its storage so the 15 ms loop allocates
// nothing once the first line has been built. No line break is added.
void BuildStatusLine(std::string& line, std::int64_t position, double playedSeconds,
                     std::int64_t lengthBytes, double lengthSeconds, float volume);

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

// ---- the screen's rows as cells ---------------------------------------------------------

// How a character of the program's 8-bit text shows on the screen: a control character
// (0x00-0x1F, 0x7F) as '?', so text from a site can never move the cursor or ring a bell.
inline char ShownCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F ? '?' : c;
}

// `text` as shown on a row of `columns` cells that a line break follows: control characters
// as '?', and cut so the last column stays free (a character written there moves the cursor
// to the next row by itself, and the line break would then leave a row empty). `columns` 0
// means the width is unknown: nothing is cut.
std::string FitToRow(std::string_view text, std::size_t columns);

// One cell of the console screen: a character of the program's 8-bit text and its colours.
struct ScreenCell {
  char character = ' ';
  std::uint16_t attribute = 0;
};

// Lays `text` into `row` from its first cell, in `attribute`, control characters shown as
// '?'; the cells after it become blanks in `blankAttribute`, and text past the row's end is
// cut. A row so written is the same whatever was on it before.
void LayRow(std::span<ScreenCell> row, std::string_view text, std::uint16_t attribute,
            std::uint16_t blankAttribute);

// A rectangle of cells, 0-based and inclusive.
struct CellArea {
  unsigned top = 0;
  unsigned left = 0;
  unsigned bottom = 0;
  unsigned right = 0;
};

// The smallest rectangle holding every cell in which `after` differs from `before` (rows
// of `columns` cells), or none when they are the same; all of `after` when `before` is
// not of its size.
std::optional<CellArea> ChangedArea(std::span<const ScreenCell> before,
                                    std::span<const ScreenCell> after, unsigned columns);
