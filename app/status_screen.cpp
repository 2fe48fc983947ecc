#include "app/status_screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "web/save_copy.h"

namespace {

// No real stream plays or lasts this long (about 31 years); a broken reading beyond it is
// shown at this bound so the line keeps to one row of the 90-column console.
constexpr double kLongestShownSeconds = 1e9;

double ShownSeconds(double seconds) {
  if (!(seconds > 0.0)) return 0.0;  // also NaN
  return seconds < kLongestShownSeconds ? seconds : kLongestShownSeconds;
}

// The share of the song played, in percent. A stream that cannot tell its length (-1) or
// has none (0) has no share to show, so it reads 00.00 for the one pass before the song
// ends. The figure stays within 0 to 100: a position read a moment before the end test
// may run past an estimated length, and a failed position read gives -1.
double SharePercent(std::int64_t position, std::int64_t lengthBytes) {
  if (lengthBytes <= 0 || position <= 0) return 0.0;
  if (position >= lengthBytes) return 100.0;
  return static_cast<double>(position) / static_cast<double>(lengthBytes) * 100.0;
}

// Whole milliseconds of the played time, cut down (never rounded up).
long long PlayedMilliseconds(double playedSeconds) {
  return static_cast<long long>(ShownSeconds(playedSeconds) * 1000.0);
}

// The played time as hours:minutes:seconds:milliseconds, cut down to whole milliseconds.
int FormatClock(char* out, std::size_t size, double playedSeconds) {
  const long long ms = PlayedMilliseconds(playedSeconds);
  return std::snprintf(out, size, "%02lld:%02lld:%02lld:%03lld", ms / 3600000, ms / 60000 % 60,
                       ms / 1000 % 60, ms % 1000);
}

}  // namespace

void BuildStatusLine(std::string& line, std::int64_t position, double playedSeconds,
                     std::int64_t lengthBytes, double lengthSeconds, float volume) {
  char clock[40];
  FormatClock(clock, sizeof clock, playedSeconds);
  // The played time may pass the length by a little before the end test notices;
  // the time left then stays at 0.00 rather than turning negative.
  const double timeLeft = ShownSeconds(lengthSeconds - ShownSeconds(playedSeconds));
  char text[160];
  const int length =
      std::snprintf(text, sizeof text, "Played:  %05.2f %% / %.2f s / %s / volume: %u       ",
                    SharePercent(position, lengthBytes), timeLeft, clock,
                    static_cast<unsigned>(VolumePercent(volume)));
  line.assign(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::uint8_t VolumePercent(float volume) {
  // nearbyint rounds in the default mode: to nearest, ties to even.
  const double percent = std::nearbyint(static_cast<double>(volume) * 100.0);
  if (!(percent > 0.0)) return 0;
  return percent < 255.0 ? static_cast<std::uint8_t>(percent) : 255;
}

int LevelIndex(float level) {
  const double index = std::nearbyint(static_cast<double>(level) * 7.0);
  if (!(index > 0.0)) return 0;
  // Readings above 1.0 would otherwise run past the end of the colour tables.
  return index < 7.0 ? static_cast<int>(index) : 7;
}

std::uint8_t LevelBackColour(int index, std::uint8_t backColour) {
  static constexpr std::array<std::uint8_t, 8> backs = {0, 0, 1, 3, 9, 11, 7, 15};
  if (index <= 1) return backColour;
  return backs[index < 7 ? index : 7];
}

TextColours BannerColours(float level, std::uint8_t backColour, bool levelMeter,
                          std::uint8_t textColour) {
  if (!levelMeter) return {textColour, backColour};
  const int index = LevelIndex(level);
  return {levelTextColours[index], LevelBackColour(index, backColour)};
}

std::string FitToRow(std::string_view text, std::size_t columns) {
  const std::size_t room = columns == 0 ? text.size() : columns - 1;
  std::string shown(text.substr(0, room));
  for (char& c : shown) c = ShownCharacter(c);
  return shown;
}

std::optional<CellArea> ChangedArea(std::span<const ScreenCell> before,
                                    std::span<const ScreenCell> after, unsigned columns) {
  if (columns == 0 || after.size() < columns) return std::nullopt;
  if (before.size() != after.size()) {
    // Nothing known of what is shown: all of it goes out.
    return CellArea{0, 0, static_cast<unsigned>(after.size() / columns) - 1, columns - 1};
  }
  std::optional<CellArea> area;
  for (std::size_t i = 0; i < after.size(); ++i) {
    if (after[i].character == before[i].character && after[i].attribute == before[i].attribute &&
        after[i].wide == before[i].wide)
      continue;
    const auto row = static_cast<unsigned>(i / columns);
    const auto column = static_cast<unsigned>(i % columns);
    if (!area) {
      area = CellArea{row, column, row, column};
      continue;
    }
    area->bottom = row;  // rows are met in order
    area->left = column < area->left ? column : area->left;
    area->right = column > area->right ? column : area->right;
  }
  return area;
}

void LayRow(std::span<ScreenCell> row, std::string_view text, std::uint16_t attribute,
            std::uint16_t blankAttribute) {
  const std::size_t laid = text.size() < row.size() ? text.size() : row.size();
  for (std::size_t i = 0; i < laid; ++i) row[i] = {ShownCharacter(text[i]), attribute};
  for (std::size_t i = laid; i < row.size(); ++i) row[i] = {' ', blankAttribute};
}

void ScreenCells::Cleared(std::size_t columns, std::uint16_t attribute) {
  columns_ = static_cast<unsigned>(std::min<std::size_t>(columns, kMostColumns));
  std::fill(laid_.begin(), laid_.end(), ScreenCell{' ', attribute});
  shown_ = laid_;
}

std::span<ScreenCell> ScreenCells::Row(unsigned row) {
  if (row < 1 || row > kRows) return {};
  return {laid_.data() + std::size_t(row - 1) * columns_, columns_};
}

std::optional<CellArea> ScreenCells::Changes() const {
  const std::size_t count = std::size_t(kRows) * columns_;
  return ChangedArea({shown_.data(), count}, {laid_.data(), count}, columns_);
}

void ScreenCells::Written() {
  std::copy_n(laid_.begin(), std::size_t(kRows) * columns_, shown_.begin());
}

MessagePlace WhereMessageGoes(bool screenLaidOut) {
  return screenLaidOut ? MessagePlace::MessageRow : MessagePlace::Line;
}

void MessageRow::Message(std::string_view text) {
  length_ = std::min(text.size(), message_.size());
  std::copy_n(text.data(), length_, message_.data());
  holder_ = Holder::Message;
}

void MessageRow::CopyReading() {
  if (holder_ == Holder::Nobody) holder_ = Holder::Copy;
}

void MessageRow::CopyEnded() {
  if (holder_ == Holder::Copy) holder_ = Holder::Nobody;
}

void MessageRow::Cleared() { holder_ = Holder::Nobody; }

std::string_view MessageRow::Text() const {
  switch (holder_) {
    case Holder::Message:
      return {message_.data(), length_};
    case Holder::Copy:
      return kDownloadingText;
    case Holder::Nobody:
      break;
  }
  return {};
}
