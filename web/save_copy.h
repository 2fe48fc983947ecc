#pragma once
// Saving a copy of the current song: what is requested, how big the file is, and the
// name it may be saved under.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kDownloadingText = "Downloading...";
// Longest Windows path the 8-bit file functions accept, without its terminating zero.
inline constexpr std::size_t kLongestPath = 259;

// The song page's path on the host: everything up to and including the first occurrence
// of `host` removed. None when the host does not occur (or is empty): the address then
// belongs to no page of this site, and requesting it would fetch something else.
std::optional<std::string> DownloadRequestPath(const std::string& pageUrl, const std::string& host);

// Sizes a copy can be made for: from 1 byte up to, not including, 2 GiB. -1 is a song
// without a usable stream. 0 is refused because a copy would hold nothing of the song yet
// replace an earlier copy of the same name with an empty file. 2 GiB and more are refused
// because the file is collected in memory and written with 32-bit lengths.
bool SizeCanBeSaved(std::int64_t fileSize);

// The body collected into a file of exactly `size` bytes: bytes past the end are dropped.
// Only a full buffer is a copy of the song: a body that ended short (cut off, reset, timed
// out) is not written, since the zeros after it would be saved as if they were the song.
class CopyBuffer {
 public:
  explicit CopyBuffer(std::size_t size) : bytes_(size, 0) {}
  void Append(const void* data, std::size_t count);
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  std::uint64_t Received() const { return received_; }
  // Bytes still wanted; the copy reads no further once it is 0.
  std::size_t Room() const {
    return received_ >= bytes_.size() ? 0 : bytes_.size() - static_cast<std::size_t>(received_);
  }
  bool Full() const { return Room() == 0; }

 private:
  std::vector<std::uint8_t> bytes_;
  // 64-bit so that a body running far past the size can never wrap round and overwrite
  // the start of the file.
  std::uint64_t received_ = 0;
};

// Whether the copy's answer carries the song: only 200. Its request asks for no range and
// no conditions, so any other status (206, 204, an error page, ...) is not the whole file.
bool CopyAnswerAccepted(std::uint32_t status);

// A path that the wide file functions take at any length ("\\?\" before a drive path,
// "\\?\UNC\" in place of the leading "\\" of a network path); other paths unchanged.
// The save folder may run to 257 characters, and the copy's temporary name beside the
// song's would pass the 259 that plain paths allow.
std::string ExtendedLengthPath(const std::string& path);

// The name a copy is written under in the save folder before it takes the song's name:
// "~copy" and eight hexadecimal digits of `number`, ".tmp".
std::string TemporaryCopyName(std::uint32_t number);

// A file name that is safe to create inside the save folder, made from the song's title
// (which comes from the site's redirect, so it is not trusted):
// - \ / : * ? " < > | and control characters become '_', so the name can neither leave
//   the folder nor name a stream or a device path;
// - trailing dots and spaces are dropped, as Windows would drop them anyway;
// - a name too long for the folder is shortened, keeping its extension;
// - a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, in any case, with
//   or without an extension) gets a leading '_', so the copy is a file, never a device.
// None when nothing is left of the name (an empty title, "." or ".."), or when the folder
// leaves no room for a name: no name is invented, since a made-up one would overwrite
// the copies of other songs that came without a name; the copy is then not saved.
std::optional<std::string> SafeSaveName(const std::string& title, std::size_t folderPathLength);

// True when a name would be taken by Windows for a device rather than a file.
bool IsDeviceName(std::string_view name);

// The save folder beside the program: the program's directory, a backslash, the host.
std::string SaveFolderPath(const std::string& programDirectory, const std::string& host);

// The folder is created unless the attribute query answered exactly "directory"; a folder
// that already exists only makes the creation fail harmlessly.
bool SaveFolderMustBeCreated(std::uint32_t attributes);

// Everything a copy needs, taken from the song that is current when "d" is pressed, so
// that a skip during the download cannot mix two songs' facts.
struct SaveCopyPlan {
  std::string requestPath;
  std::string filePath;
  std::size_t size;
};

std::optional<SaveCopyPlan> PlanSaveCopy(const std::string& pageUrl, const std::string& title,
                                         std::int64_t fileSize, const std::string& host,
                                         const std::string& saveFolder);
