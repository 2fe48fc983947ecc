#pragma once
// A folder of a test's own, removed with everything in it afterwards, and whole-file helpers.
#include <string>
#include <vector>

class ScratchFolder {
 public:
  // A new folder in the temporary directory, or the given one (created, emptied at the end).
  ScratchFolder();
  explicit ScratchFolder(std::string path);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  // Names of the entries inside, sorted.
  std::vector<std::string> Names() const;
  void Remove() const;

 private:
  std::string path_;
};

bool FileExists(const std::string& path);
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
