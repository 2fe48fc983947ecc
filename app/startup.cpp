#include "app/startup.h"

bool IsSupportedBuild(std::uint32_t buildNumber) { return buildNumber >= 7600; }

std::uint32_t TakeOverInputMode(std::uint32_t saved) {
  constexpr std::uint32_t kMouseInput = 0x0010, kQuickEdit = 0x0040, kExtendedFlags = 0x0080;
  return (saved & ~(kMouseInput | kQuickEdit)) | kExtendedFlags;
}

std::string ConsoleTitle(const std::string& host, std::int64_t latestSong) {
  return "Zorvathimelle " + host + " / ~" + std::to_string(latestSong) + " songs available";
}
