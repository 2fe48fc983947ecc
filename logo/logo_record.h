#pragma once
// The logo as the program stores it: text items, in order, the line count, 0, the decoded
// length, 0, the encoding's name, then the encoded image cut into lines.
#include <cstdint>
#include <span>
#include <string>

#include "app/target_settings.h"

struct LogoRecord {
  std::span<const char* const> items;
};

// Each program's own record, generated into targets/<name>/logo_record.cpp.
const LogoRecord& StoredLogo();

struct LogoText {
  std::int32_t lineCount = 0;
  std::int32_t declaredLength = 0;  // item 3
  std::string encoding;             // item 5, kept for reading only
  std::string text;                 // the lines joined, with nothing between them
};

// Reads items 1 to 5 and joins the lines item 1 announces (no more than the record has).
LogoText ReadLogoRecord(const LogoRecord& record);

struct LogoBytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// Decodes the joined text with the program's decoder. The size handed on is the declared
// length, but never more than was decoded, so a record whose item 3 overstates its image
// cannot make the image reader run past the buffer.
LogoBytes DecodeLogo(const LogoText& logo, LogoKind kind);
