#pragma once
// The player's screen: the two rows the player loop redraws on every pass (the "Played:"
// status line and the colours of the credit banner, which follow the audio level), the
// screen's rows as cells, and what the row below the banner shows.
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
// A wide cell shows its character as the code point of the same number in both programs,
// whatever the 8-bit console's code page would make of it (the bitrate line's "Ø").
struct ScreenCell {
  char character = ' ';
  std::uint16_t attribute = 0;
  bool wide = false;
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

// ---- the whole screen ----------------------------------------------------------------

// The rows of the player's screen, counted from 1: the five song lines, the status line
// below them, an empty row, the banner and the row for messages and the copy's
// "Downloading...". Every other place takes its rows from here.
struct ScreenRows {
  static constexpr unsigned kSongLines = 5;
  unsigned status = kSongLines + 1;
  constexpr unsigned Banner() const { return status + 2; }
  constexpr unsigned Message() const { return status + 3; }
  constexpr unsigned Count() const { return Message(); }
};

// The player's screen as cells: as the player lays it, and as the console last showed it,
// so that each pass writes only what changed.
class ScreenCells {
 public:
  static constexpr unsigned kRows = ScreenRows{}.Count();
  // Wider consoles keep their cells past this column as "Cls" left them.
  static constexpr unsigned kMostColumns = 512;

  // "Cls": every cell of a screen `columns` wide is blank in `attribute`, laid and shown.
  void Cleared(std::size_t columns, std::uint16_t attribute);
  unsigned Columns() const { return columns_; }
  // Row 1 to kRows, `Columns()` cells; empty before the first clearing.
  std::span<ScreenCell> Row(unsigned row);
  // Every laid cell, row after row.
  std::span<const ScreenCell> Laid() const { return {laid_.data(), std::size_t(kRows) * columns_}; }
  // The smallest rectangle of cells laid otherwise than shown; none when all are shown.
  std::optional<CellArea> Changes() const;
  // What is laid has been written: the console shows it.
  void Written();

 private:
  unsigned columns_ = 0;
  std::array<ScreenCell, kRows * kMostColumns> laid_{};
  std::array<ScreenCell, kRows * kMostColumns> shown_{};
};

// Where a message (a failed request) goes: before the screen has its layout, at start-up,
// onto a line of its own as the start-up's lines do; from then on to the message row.
enum class MessagePlace { Line, MessageRow };
MessagePlace WhereMessageGoes(bool screenLaidOut);

// What the message row shows. A message takes the row and keeps it, whole, until the next
// message or the next clearing of the screen. "Downloading..." shows once a copy reads its
// song, unless a message holds the row, and goes when that copy ends or the screen is
// cleared; it never comes back for the same copy. So the end of a copy blanks only its own
// text, never a message that took the row meanwhile.
class MessageRow {
 public:
  static constexpr std::size_t kLongestMessage = 256;
  void Message(std::string_view text);
  void CopyReading();
  void CopyEnded();
  void Cleared();
  std::string_view Text() const;

 private:
  enum class Holder { Nobody, Message, Copy };
  Holder holder_ = Holder::Nobody;
  std::array<char, kLongestMessage> message_{};
  std::size_t length_ = 0;
};
