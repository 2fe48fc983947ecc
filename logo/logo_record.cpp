#include "logo/logo_record.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "logo/logo_decoders.h"

namespace {

constexpr std::size_t kHeaderItems = 5;

// A whole number from the start of the text; anything else reads as 0.
std::int32_t ReadInteger(const char* text) {
  std::int32_t value = 0;
  if (text != nullptr) std::from_chars(text, text + std::strlen(text), value);
  return value;
}

const char* ItemOrNull(const LogoRecord& record, std::size_t index) {
  return index < record.items.size() ? record.items[index] : nullptr;
}

}  // namespace

LogoText ReadLogoRecord(const LogoRecord& record) {
  LogoText logo;
  logo.lineCount = ReadInteger(ItemOrNull(record, 0));
  logo.declaredLength = ReadInteger(ItemOrNull(record, 2));
  if (const char* encoding = ItemOrNull(record, 4)) logo.encoding = encoding;

  const std::size_t available =
      record.items.size() > kHeaderItems ? record.items.size() - kHeaderItems : 0;
  const std::size_t lines =
      std::min(static_cast<std::size_t>(std::max<std::int32_t>(logo.lineCount, 0)), available);
  std::size_t total = 0;
  for (std::size_t i = 0; i < lines; ++i) total += std::strlen(record.items[kHeaderItems + i]);
  logo.text.reserve(total);
  for (std::size_t i = 0; i < lines; ++i) logo.text += record.items[kHeaderItems + i];
  return logo;
}

LogoBytes DecodeLogo(const LogoText& logo, LogoKind kind) {
  std::int32_t decoded = 0;
  const std::uint8_t* data = kind == LogoKind::AnimatedBase128 ? DecodeBase128(logo.text, decoded)
                                                               : DecodeBase64(logo.text, decoded);
  if (data == nullptr) return {};
  const std::int32_t size = std::clamp(logo.declaredLength, 0, decoded);
  return {data, static_cast<std::size_t>(size)};
}
