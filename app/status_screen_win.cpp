#include "app/status_screen_win.h"

#include <string>

#include "app/console_output_win.h"
#include "app/player_state.h"
#include "app/status_screen.h"

void DrawStatusLine(std::int64_t position, double playedSeconds, std::int64_t lengthBytes,
                    double lengthSeconds, float volume, std::int64_t fileSize) {
  // Kept for the whole run so a pass allocates nothing.
  static std::string line;
  const PlayerState& player = Player();
  auto lock = console::Lock();
  console::MoveTo(player.statusRow, 1);
  console::SetColours(player.textColour, player.backColour);
  if (fileSize == -1) return;
  BuildStatusLine(line, position, playedSeconds, lengthBytes, lengthSeconds, volume);
  console::Write(line);
  console::Write("\r\n");
}

void DrawBannerRow(float level, bool levelMeter, std::int64_t fileSize) {
  const PlayerState& player = Player();
  auto lock = console::Lock();
  console::MoveTo(player.statusRow + 2, 1);
  if (levelMeter) {
    const TextColours colours = BannerColours(level, player.backColour, true, player.textColour);
    console::SetColours(colours.text, colours.back);
  }
  if (fileSize != -1) console::Write(player.creditBanner);
}
