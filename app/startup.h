#pragma once
// Decisions of start-up that need no console.
#include <cstdint>
#include <string>

// Windows 7 (build 7600) or later.
bool IsSupportedBuild(std::uint32_t buildNumber);

// The input mode while the player runs: no mouse input (0x10), no quick-edit (0x40),
// extended flags (0x80) on, every other bit as it was.
std::uint32_t TakeOverInputMode(std::uint32_t saved);

// "Zorvathimelle <host> / ~<newest> songs available"
std::string ConsoleTitle(const std::string& host, std::int64_t latestSong);
