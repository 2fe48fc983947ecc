#include "standins/bass/downloaded_file.h"

#include <algorithm>
#include <cstring>

void DownloadedFile::Announce(std::int64_t size) {
  std::lock_guard lock(mutex_);
  announced_ = size;
  // A wrong announcement only costs a reallocation later; a huge one is not trusted.
  constexpr std::int64_t kLargestReservation = std::int64_t{1} << 30;
  if (size > 0) bytes_.reserve(static_cast<std::size_t>(std::min(size, kLargestReservation)));
}

void DownloadedFile::Append(const std::uint8_t* bytes, std::size_t count) {
  {
    std::lock_guard lock(mutex_);
    bytes_.insert(bytes_.end(), bytes, bytes + count);
  }
  changed_.notify_all();
}

void DownloadedFile::Finish(bool complete) {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
    complete_ = complete;
  }
  changed_.notify_all();
}

std::int64_t DownloadedFile::AnnouncedSize() const {
  std::lock_guard lock(mutex_);
  return announced_;
}

std::int64_t DownloadedFile::Size() const {
  std::lock_guard lock(mutex_);
  if (announced_ >= 0) return announced_;
  return finished_ ? static_cast<std::int64_t>(bytes_.size()) : -1;
}

std::size_t DownloadedFile::Received() const {
  std::lock_guard lock(mutex_);
  return bytes_.size();
}

bool DownloadedFile::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

bool DownloadedFile::Complete() const {
  std::lock_guard lock(mutex_);
  return complete_;
}

std::size_t DownloadedFile::Read(std::size_t offset, std::uint8_t* out, std::size_t count) const {
  std::lock_guard lock(mutex_);
  if (offset >= bytes_.size()) return 0;
  std::size_t n = std::min(count, bytes_.size() - offset);
  std::memcpy(out, bytes_.data() + offset, n);
  return n;
}

std::vector<std::uint8_t> DownloadedFile::Snapshot() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

bool DownloadedFile::WaitBeyond(std::size_t have, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return bytes_.size() > have || finished_ || woken_; });
  return bytes_.size() > have || finished_;
}

void DownloadedFile::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  changed_.notify_all();
}
