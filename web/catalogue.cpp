#include "web/catalogue.h"

#include <algorithm>
#include <functional>

std::uint16_t FindLatestSongNumber(std::string_view page, std::string_view marker,
                                   char terminator) {
  // Home pages run to megabytes of markup full of '<'; a skipping search beats find()'s
  // first-character scan there.
  const auto found = std::search(page.begin(), page.end(),
                                 std::boyer_moore_horspool_searcher(marker.begin(), marker.end()));
  if (found == page.end() || marker.empty()) return 0;
  std::string_view rest = page.substr(static_cast<std::size_t>(found - page.begin()) + marker.size());
  rest = rest.substr(0, rest.find(terminator));
  std::size_t i = 0;
  while (i < rest.size() && rest[i] == ' ') ++i;
  // Only the low 16 bits are kept, so wrapping arithmetic gives the same result.
  std::uint32_t value = 0;
  for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
    value = (value * 10 + static_cast<std::uint32_t>(rest[i] - '0')) & 0xFFFFu;
  }
  return static_cast<std::uint16_t>(value);
}

std::string ReplaceAll(std::string text, const std::string& find, const std::string& replacement) {
  if (find.empty() || text.find(find) == std::string::npos) return text;
  // A replacement holding the text it replaces would be found again for ever.
  if (replacement.find(find) != std::string::npos) return text;
  text = " " + text + " ";
  for (std::size_t at = text.find(find); at != std::string::npos; at = text.find(find)) {
    text.replace(at, find.size(), replacement);
  }
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string NarrowUrl(const char16_t* characters, std::size_t count) {
  std::string url;
  url.reserve(count);
  // A count that includes the terminating null must not put a null into the text.
  for (std::size_t i = 0; i < count && characters[i] != 0; ++i) {
    url += characters[i] < 0x80 ? static_cast<char>(characters[i]) : '?';
  }
  return url;
}

std::string FileNameOfUrl(const std::string& url) {
  const std::size_t slash = url.rfind('/');
  return slash == std::string::npos ? url : url.substr(slash + 1);
}
