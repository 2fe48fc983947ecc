#pragma once
// Reading the catalogue's pages: the newest song number and the redirect target's text.
#include <cstdint>
#include <string>
#include <string_view>

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
