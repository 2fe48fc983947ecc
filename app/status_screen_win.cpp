#include "app/status_screen_win.h"

#include <algorithm>
#include <optional>
#include <string>

#include "app/console_output_win.h"
#include "app/player_state.h"
#include "app/status_screen.h"

namespace {

// The status line, the empty row below it and the banner row go to the console together,
// as one rectangle of cells in one call: a console call is a round trip to the console
// host, and the loop draws some sixty times a second. The rectangle is as wide as the
// longer of the two lines; cells past a line's end are blanks in the default colours,
// as the screen's clearing left them. Of that rectangle only the cells that differ from
// what the console already shows go out (the clock's last digits, most passes), so the
// console host redraws a few cells rather than three rows; while nothing has changed, as
// when paused, nothing goes out at all.
constexpr unsigned kRows = 3;
constexpr unsigned kMostColumns = 160;  // wider than either line ever is

struct Screen {
  Screen() { line.reserve(kMostColumns); }
  std::string line;  // room for the longest line, kept for the run: a pass allocates nothing
  bool lineLaid = false;
  ScreenCell cells[kRows * kMostColumns];
  // What the console shows of these rows, valid while no other write has come since.
  ScreenCell shown[kRows * kMostColumns];
  unsigned shownRow = 0;
  unsigned shownColumns = 0;
  std::uint64_t shownAfter = 0;  // console::OtherWrites() when `shown` was written
};

// Writes the laid rows, or the part of them that differs from what the console shows.
void Show(Screen& screen, unsigned row, unsigned columns) {
  const std::size_t count = std::size_t(kRows) * columns;
  const std::span<const ScreenCell> laid(screen.cells, count);
  const std::uint64_t otherWrites = console::OtherWrites();
  std::optional<CellArea> area = CellArea{0, 0, kRows - 1, columns - 1};
  if (screen.shownRow == row && screen.shownColumns == columns &&
      screen.shownAfter == otherWrites) {
    area = ChangedArea({screen.shown, count}, laid, columns);
  }
  if (area) console::WriteCells(row, laid, kRows, columns, *area);
  std::copy(laid.begin(), laid.end(), screen.shown);
  screen.shownRow = row;
  screen.shownColumns = columns;
  screen.shownAfter = otherWrites;
}

Screen& Drawn() {
  static Screen screen;
  return screen;
}

std::uint16_t DefaultAttribute(const PlayerState& player) {
  return ConsoleAttribute({player.textColour, player.backColour});
}

std::span<ScreenCell> Row(Screen& screen, unsigned index, unsigned columns) {
  return {screen.cells + index * columns, columns};
}

unsigned Width(std::size_t a, std::size_t b) {
  const std::size_t wider = a > b ? a : b;
  return static_cast<unsigned>(wider < kMostColumns ? wider : kMostColumns);
}

}  // namespace

void DrawStatusLine(std::int64_t position, double playedSeconds, std::int64_t lengthBytes,
                    double lengthSeconds, float volume, std::int64_t fileSize) {
  Screen& screen = Drawn();
  screen.lineLaid = fileSize != -1;
  if (!screen.lineLaid) return;
  BuildStatusLine(screen.line, position, playedSeconds, lengthBytes, lengthSeconds, volume);
  if (console::OutputIsConsole()) return;  // drawn with the banner row
  // Written to a file or pipe there is no screen: the lines follow one another.
  auto lock = console::Lock();
  console::Write(screen.line);
  console::Write("\r\n");
}

void DrawBannerRow(float level, bool levelMeter, std::int64_t fileSize) {
  const PlayerState& player = Player();
  Screen& screen = Drawn();
  const TextColours colours =
      BannerColours(level, player.backColour, levelMeter, player.textColour);
  auto lock = console::Lock();
  if (!console::OutputIsConsole()) {
    if (fileSize != -1) console::Write(player.creditBanner);
    return;
  }
  if (fileSize != -1 && screen.lineLaid) {
    const std::uint16_t blank = DefaultAttribute(player);
    const unsigned columns = Width(screen.line.size(), player.creditBanner.size());
    LayRow(Row(screen, 0, columns), screen.line, blank, blank);
    LayRow(Row(screen, 1, columns), {}, blank, blank);
    LayRow(Row(screen, 2, columns), player.creditBanner, ConsoleAttribute(colours), blank);
    Show(screen, player.statusRow, columns);
  }
  // The console's colours end each pass as the banner's, as they always have: "Cls" and
  // the text written later take them.
  console::SetColours(colours.text, colours.back);
  console::KeepCursorHidden();
}
