#pragma once
// The five lines that describe a song at the top of the screen, and the song's address.
#include <cstddef>
#include <cstdint>
#include <string>

#include "web/site_settings.h"

// Each line without its line break. The bitrate line is split around its "Ø" (U+00D8),
// which is written to the console as a wide character even where the rest is 8-bit:
// bitratePrefix, then the Ø, then bitrateRest.
struct SongInfoLines {
  std::string url;            // "URL:     " + address
  std::string playing;        // "Playing: " + title
  std::string bitratePrefix;  // "Bitrate: "
  std::string bitrateRest;    // " " + average + " kbps (" + bitrate + " kbps)"
  std::string size;           // "Size:    " + bytes + " bytes"
  std::string length;         // "Length: ####.## seconds"
};

// Each line fits a console row `columns` wide (0: width unknown) and shows control
// characters as '?' (FitToRow): whatever the site names a song, the five lines stay on
// their five rows.
SongInfoLines DescribeSong(const std::string& pageUrl, const std::string& title,
                           std::int64_t fileSize, double lengthSeconds, float bitrate,
                           std::size_t columns = 0);

// The file's size in bits over its length, in whole kilobits per second rounded down.
std::string AverageBitrateText(std::int64_t fileSize, double lengthSeconds);

// The stream's own bitrate with up to seven significant digits ("128", "191.5").
std::string BitrateText(float bitrate);

// "Length: " + the length in a field of seven characters with two decimals + " seconds";
// a length too wide for the field is printed whole behind a "%".
std::string LengthLine(double lengthSeconds);

// "https://" + host + the site's song path + the number in plain decimal.
std::string SongAddress(const SiteSettings& site, std::uint16_t number);
