#include "app/screen_win.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>

#include "app/console_output_win.h"
#include "app/status_screen.h"
#include "audio/song_info.h"

namespace {

// What other threads record for the screen; the main thread takes it at its next pass.
struct Records {
  std::mutex mutex;
  bool message = false;
  char text[MessageRow::kLongestMessage] = {};
  std::size_t length = 0;
  std::atomic<bool> copyReading{false};
};

Records& Recorded() {
  static Records records;
  return records;
}

std::atomic<bool> laidOut{false};

// ---- main thread only -----------------------------------------------------------------

struct Screen {
  Screen() { line.reserve(160); }
  ScreenCells cells;
  MessageRow messageRow;
  std::string line;  // the status line, its storage kept for the run: a pass allocates nothing
  bool console = false;
  std::string linePrinted;  // without a console: the message row's text last printed
};

Screen& TheScreen() {
  static Screen screen;
  return screen;
}

std::uint16_t DefaultAttribute(const PlayerState& player) {
  return ConsoleAttribute({player.textColour, player.backColour});
}

ScreenRows Rows() { return ScreenRows{Player().statusRow}; }

// Takes what other threads recorded into the message row, in the order that matters: before
// a clearing or a copy's end, so neither is undone by something recorded before it.
void TakeRecords(Screen& screen) {
  Records& records = Recorded();
  {
    std::lock_guard lock(records.mutex);
    if (records.message) {
      screen.messageRow.Message({records.text, records.length});
      records.message = false;
    }
  }
  if (records.copyReading.exchange(false)) screen.messageRow.CopyReading();
}

void LayMessageRow(Screen& screen) {
  const std::uint16_t blank = DefaultAttribute(Player());
  if (!screen.console) {
    // Written to a file or pipe there is no screen: a new text follows as a line.
    const std::string_view text = screen.messageRow.Text();
    if (!text.empty() && text != screen.linePrinted) console::PrintLine(text);
    screen.linePrinted = text;
    return;
  }
  LayRow(screen.cells.Row(Rows().Message()), screen.messageRow.Text(), blank, blank);
}

void WriteChanges(Screen& screen) {
  if (!screen.console) return;
  const std::optional<CellArea> area = screen.cells.Changes();
  if (!area) return;
  console::WriteCells(1, screen.cells.Laid(), ScreenCells::kRows, screen.cells.Columns(), *area);
  screen.cells.Written();
}

}  // namespace

void TakeScreen() {
  Screen& screen = TheScreen();
  screen.console = console::OutputIsConsole();
  screen.cells.Cleared(console::Columns(), DefaultAttribute(Player()));
  laidOut = true;
}

void ShowNotice(std::string_view text) {
  Screen& screen = TheScreen();
  if (!screen.console) {
    console::PrintLine(text);
    return;
  }
  const std::uint16_t blank = DefaultAttribute(Player());
  LayRow(screen.cells.Row(1), text, blank, blank);
  WriteChanges(screen);
}

void ShowSong(const PlayerState& player) {
  if (player.fileSize == -1) return;
  Screen& screen = TheScreen();
  TakeRecords(screen);
  console::SetColours(player.textColour, player.backColour);
  console::RunCommand("Cls");
  const std::uint16_t blank = DefaultAttribute(player);
  screen.cells.Cleared(console::Columns(), blank);
  screen.messageRow.Cleared();
  screen.linePrinted.clear();
  // Cut to the rows as they are now, so that no line reaches into the next row.
  const SongInfoLines lines = DescribeSong(player.pageUrl, player.title, player.fileSize,
                                           player.lengthSeconds, player.bitrate,
                                           screen.console ? screen.cells.Columns() : 0);
  // The Ø is wide in both programs: the 8-bit code page may lack it.
  const std::string bitrate = lines.bitratePrefix + '\xD8' + lines.bitrateRest;
  if (!screen.console) {
    for (const std::string* text : {&lines.url, &lines.playing, &bitrate, &lines.size,
                                    &lines.length}) {
      console::PrintLine(*text);
    }
    return;
  }
  LayRow(screen.cells.Row(1), lines.url, blank, blank);
  LayRow(screen.cells.Row(2), lines.playing, blank, blank);
  const std::span<ScreenCell> row = screen.cells.Row(3);
  LayRow(row, bitrate, blank, blank);
  if (lines.bitratePrefix.size() < row.size()) row[lines.bitratePrefix.size()].wide = true;
  LayRow(screen.cells.Row(4), lines.size, blank, blank);
  LayRow(screen.cells.Row(5), lines.length, blank, blank);
}

void DrawScreen(std::int64_t position, double playedSeconds, float level) {
  const PlayerState& player = Player();
  Screen& screen = TheScreen();
  TakeRecords(screen);
  const TextColours colours =
      BannerColours(level, player.backColour, player.levelMeter, player.textColour);
  const bool streamOpen = player.fileSize != -1;
  if (streamOpen) {
    BuildStatusLine(screen.line, position, playedSeconds, player.lengthBytes,
                    player.lengthSeconds, player.volume);
  }
  if (!screen.console) {
    // Without a screen the lines follow one another.
    if (streamOpen) {
      console::PrintLine(screen.line);
      console::Write(player.creditBanner);
    }
    LayMessageRow(screen);
    return;
  }
  const ScreenRows rows = Rows();
  if (streamOpen) {
    const std::uint16_t blank = DefaultAttribute(player);
    LayRow(screen.cells.Row(rows.status), screen.line, blank, blank);
    LayRow(screen.cells.Row(rows.status + 1), {}, blank, blank);
    LayRow(screen.cells.Row(rows.Banner()), player.creditBanner, ConsoleAttribute(colours),
           blank);
  }
  LayMessageRow(screen);
  WriteChanges(screen);
  // The console's colours end each pass as the banner's, as they always have: "Cls" and
  // the text written later take them.
  console::SetColours(colours.text, colours.back);
  console::KeepCursorHidden();
}

void ShowScreenNow() {
  Screen& screen = TheScreen();
  TakeRecords(screen);
  LayMessageRow(screen);
  WriteChanges(screen);
}

void ScreenCopyEnded() {
  Screen& screen = TheScreen();
  TakeRecords(screen);
  screen.messageRow.CopyEnded();
}

void ReportMessage(std::initializer_list<std::string_view> parts) {
  if (WhereMessageGoes(laidOut) == MessagePlace::Line) {
    for (std::string_view part : parts) console::Write(part);
    console::Write("\r\n");
    return;
  }
  Records& records = Recorded();
  std::lock_guard lock(records.mutex);
  std::size_t length = 0;
  for (std::string_view part : parts) {
    const std::size_t count = std::min(part.size(), sizeof records.text - length);
    std::copy_n(part.data(), count, records.text + length);
    length += count;
  }
  records.length = length;
  records.message = true;
}

void ReportCopyReading() { Recorded().copyReading = true; }
