#pragma once
// Reading the catalogue's pages: the newest song number and the redirect target's text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// How much of the home page is read. The newest number stands near the top of a real page
// (a few MiB at most); a page that goes on past this is not read further, so a site that
// never ends its page cannot make the player run out of memory.
inline constexpr std::size_t kHomePageLimit = 4 * 1024 * 1024;

// Number after the first `marker` on a home page, up to `terminator` (or the end),
// leading spaces skipped, digits up to the first non-digit, kept to 16 bits; 0 if none.
std::uint16_t FindLatestSongNumber(std::string_view page, std::string_view marker,
                                   char terminator);

// Replaces every `find` by `replacement`, searching again from the start each time; when
// anything was replaced, outer spaces of the result are trimmed.
std::string ReplaceAll(std::string text, const std::string& find, const std::string& replacement);

// Redirect targets arrive as UTF-16; they are ASCII, and anything else becomes '?'.
std::string NarrowUrl(const char16_t* characters, std::size_t count);

// The text after the last "/", or the whole text when there is none.
std::string FileNameOfUrl(const std::string& url);
