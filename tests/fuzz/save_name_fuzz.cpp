// Any title and folder length: the save name must be a plain file name inside the folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "web/save_copy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t folderLength = (data[0] << 8 | data[1]) % 300;
  const std::string title(reinterpret_cast<const char*>(data + 2), size - 2);
  const auto name = SafeSaveName(title, folderLength);
  if (!name) return 0;
  if (name->empty() || *name == "." || *name == "..") std::abort();
  if (folderLength + 1 + name->size() > kLongestPath) std::abort();
  if (name->back() == '.' || name->back() == ' ') std::abort();
  if (IsDeviceName(*name)) std::abort();
  for (unsigned char c : *name) {
    if (c < 0x20 || c == 0x7f || std::strchr("\\/:*?\"<>|", c) != nullptr) std::abort();
  }
  return 0;
}
