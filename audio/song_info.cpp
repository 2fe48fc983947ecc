#include "audio/song_info.h"

#include <cmath>
#include <cstdio>

#include "app/status_screen.h"

namespace {

// No stream lasts this long; a length reading beyond it, or one that is not a number at
// all, is shown as 0 rather than as the C library's "inf"/"nan" or a row-long figure.
constexpr double kLongestLength = 1e15;

bool IsUsableLength(double seconds) {
  return std::isfinite(seconds) && std::fabs(seconds) < kLongestLength;
}

}  // namespace

std::string AverageBitrateText(std::int64_t fileSize, double lengthSeconds) {
  // fileSize * 8 in double equals the 64-bit product wherever that product exists (a
  // factor of 8 is exact in binary), and stays defined for sizes where it would not.
  double average = 0.0;
  if (IsUsableLength(lengthSeconds) && lengthSeconds > 0.0 && fileSize > 0) {
    average = std::floor(static_cast<double>(fileSize) * 8.0 / lengthSeconds / 1000.0);
  }
  char text[40];
  std::snprintf(text, sizeof text, "%.16g", average);
  return text;
}

std::string BitrateText(float bitrate) {
  char text[40];
  // "%.7g" never leaves a trailing point; a reading that is not a number shows as 0.
  std::snprintf(text, sizeof text, "%.7g", std::isfinite(bitrate) ? bitrate : 0.0);
  return text;
}

std::string LengthLine(double lengthSeconds) {
  const double seconds = IsUsableLength(lengthSeconds) ? lengthSeconds : 0.0;
  char field[40];
  int width = std::snprintf(field, sizeof field, "%7.2f", seconds);
  // Decided on the printed figure, so 9999.996 (which prints as 10000.00) is marked too.
  const bool fits = width <= 7;
  if (!fits) std::snprintf(field, sizeof field, "%%%.2f", seconds);
  std::string line = "Length: ";
  line.append(field).append(" seconds");
  return line;
}

std::string SongAddress(const SiteSettings& site, std::uint16_t number) {
  std::string address = "https://";
  address.append(site.host).append(site.songUrlPath).append(std::to_string(number));
  return address;
}

SongInfoLines DescribeSong(const std::string& pageUrl, const std::string& title,
                           std::int64_t fileSize, double lengthSeconds, float bitrate,
                           std::size_t columns) {
  SongInfoLines lines;
  // Built by appending: GCC 12 warns wrongly about "text" + std::string at -O3.
  lines.url = FitToRow(std::string("URL:     ").append(pageUrl), columns);
  lines.playing = FitToRow(std::string("Playing: ").append(title), columns);
  lines.bitratePrefix = "Bitrate: ";
  // The rest follows the prefix and its one wide character on the same row.
  const std::size_t taken = lines.bitratePrefix.size() + 1;
  std::string rest(" ");
  rest.append(AverageBitrateText(fileSize, lengthSeconds));
  rest.append(" kbps (").append(BitrateText(bitrate)).append(" kbps)");
  lines.bitrateRest = FitToRow(rest, columns == 0 ? 0 : columns > taken ? columns - taken : 1);
  lines.size =
      FitToRow(std::string("Size:    ").append(std::to_string(fileSize)).append(" bytes"), columns);
  lines.length = FitToRow(LengthLine(lengthSeconds), columns);
  return lines;
}
