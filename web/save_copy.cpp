#include "web/save_copy.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::size_t kLongestExtension = 16;

bool IsForbidden(unsigned char c) {
  return c < 0x20 || c == 0x7f || std::strchr("\\/:*?\"<>|", c) != nullptr;
}

void DropTrailingDotsAndSpaces(std::string& name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
}

// Cuts `text` to at most `length` bytes without splitting a multi-byte character.
void CutTo(std::string& text, std::size_t length) {
  if (text.size() <= length) return;
  while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  text.resize(length);
}

// Shortens `name` to `room` bytes, keeping a short extension where there is room for it.
void Shorten(std::string& name, std::size_t room) {
  if (name.size() <= room) return;
  const std::size_t dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > 0 &&
                            name.size() - dot <= kLongestExtension && name.size() - dot < room;
  if (hasExtension) {
    const std::string extension = name.substr(dot);
    std::string stem = name.substr(0, dot);
    CutTo(stem, room - extension.size());
    name = stem + extension;
  } else {
    CutTo(name, room);
  }
  DropTrailingDotsAndSpaces(name);
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::optional<std::string> DownloadRequestPath(const std::string& pageUrl,
                                               const std::string& host) {
  if (host.empty()) return std::nullopt;
  const std::size_t at = pageUrl.find(host);
  if (at == std::string::npos) return std::nullopt;
  return pageUrl.substr(at + host.size());
}

bool SizeCanBeSaved(std::int64_t fileSize) {
  return fileSize >= 1 && fileSize < (std::int64_t{1} << 31);
}

void CopyBuffer::Append(const void* data, std::size_t count) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (received_ < bytes_.size()) {
    const std::size_t room = bytes_.size() - static_cast<std::size_t>(received_);
    std::memcpy(bytes_.data() + received_, bytes, std::min(room, count));
  }
  received_ += count;
}

bool CopyAnswerAccepted(std::uint32_t status) { return status == 200; }

std::string ExtendedLengthPath(const std::string& path) {
  if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) return path;
  if (path.rfind("\\\\", 0) == 0) return "\\\\?\\UNC\\" + path.substr(2);
  const bool drivePath = path.size() >= 3 && path[1] == ':' && path[2] == '\\' &&
                         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  // A relative path would not be made absolute behind the prefix: it stays as it is.
  return drivePath ? "\\\\?\\" + path : path;
}

std::string TemporaryCopyName(std::uint32_t number) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string name = "~copy00000000.tmp";
  for (int i = 0; i < 8; ++i) name[5 + i] = kDigits[(number >> (28 - 4 * i)) & 0xF];
  return name;
}

bool IsDeviceName(std::string_view name) {
  // Windows matches the part before the first dot, blanks around it ignored.
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.front() == ' ') base.remove_prefix(1);
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper(base);
  std::transform(upper.begin(), upper.end(), upper.begin(), Upper);
  static constexpr std::array<const char*, 6> kWords = {"CON", "PRN",    "AUX",
                                                        "NUL", "CONIN$", "CONOUT$"};
  for (const char* word : kWords) {
    if (upper == word) return true;
  }
  if (upper.size() != 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0))
    return false;
  // Digits, and the superscripts one to three of the Western 8-bit code page.
  const unsigned char digit = static_cast<unsigned char>(upper[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

std::optional<std::string> SafeSaveName(const std::string& title, std::size_t folderPathLength) {
  if (folderPathLength + 2 > kLongestPath) return std::nullopt;
  const std::size_t room = kLongestPath - folderPathLength - 1;  // one for the backslash

  std::string name = title;
  for (char& c : name) {
    if (IsForbidden(static_cast<unsigned char>(c))) c = '_';
  }
  DropTrailingDotsAndSpaces(name);
  Shorten(name, room);
  if (name.empty()) return std::nullopt;
  if (IsDeviceName(name)) {
    // Room is made for the '_' first; cut shorter, the name stays off the device list
    // anyway since it will start with the '_'.
    Shorten(name, room - 1);
    name.insert(0, 1, '_');
  }
  return name;
}

std::string SaveFolderPath(const std::string& programDirectory, const std::string& host) {
  return programDirectory + "\\" + host;
}

bool SaveFolderMustBeCreated(std::uint32_t attributes) { return attributes != 0x10; }

std::optional<SaveCopyPlan> PlanSaveCopy(const std::string& pageUrl, const std::string& title,
                                         std::int64_t fileSize, const std::string& host,
                                         const std::string& saveFolder) {
  if (!SizeCanBeSaved(fileSize)) return std::nullopt;
  std::optional<std::string> path = DownloadRequestPath(pageUrl, host);
  if (!path) return std::nullopt;
  std::optional<std::string> name = SafeSaveName(title, saveFolder.size());
  if (!name) return std::nullopt;
  return SaveCopyPlan{*path, saveFolder + "\\" + *name, static_cast<std::size_t>(fileSize)};
}
