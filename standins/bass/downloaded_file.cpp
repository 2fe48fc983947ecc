#include "standins/bass/downloaded_file.h"

#include <algorithm>
#include <cstring>
#include <new>

bool MemoryBudget::Take(std::size_t bytes) {
  std::size_t used = used_.load();
  do {
    if (bytes > limit_ || used > limit_ - bytes) return false;
  } while (!used_.compare_exchange_weak(used, used + bytes));
  return true;
}

void MemoryBudget::Give(std::size_t bytes) { used_ -= bytes; }

MemoryBudget& DownloadedFile::SharedBudget() {
  static MemoryBudget budget(kProcessCap);
  return budget;
}

DownloadedFile::DownloadedFile(std::size_t cap, MemoryBudget& budget)
    : cap_(cap), budget_(budget) {
  // The list of chunks never moves once made, and holds only pointers.
  chunks_.reserve((cap_ + kChunkBytes - 1) / kChunkBytes);
}

DownloadedFile::~DownloadedFile() { budget_.Give(chunks_.size() * kChunkBytes); }

bool DownloadedFile::Announce(std::int64_t size) {
  std::lock_guard lock(mutex_);
  if (size >= 0 && static_cast<std::uint64_t>(size) > cap_) return false;
  announced_ = size;
  return true;
}

bool DownloadedFile::GrowLocked() {
  if (chunks_.size() * kChunkBytes >= cap_) return false;
  if (!budget_.Take(kChunkBytes)) {
    outOfMemory_ = true;
    return false;
  }
  try {
#if TUNER_TEST_BUILD
    if (failAt_ / kChunkBytes == chunks_.size()) throw std::bad_alloc();
#endif
    // Left unfilled: every byte is written before it is read.
    chunks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kChunkBytes));
  } catch (...) {
    budget_.Give(kChunkBytes);
    throw;
  }
  return true;
}

bool DownloadedFile::Append(const std::uint8_t* bytes, std::size_t count) {
  bool all = true;
  {
    std::lock_guard lock(mutex_);
    while (count > 0) {
      if (size_ >= cap_ || (size_ == chunks_.size() * kChunkBytes && !GrowLocked())) {
        all = false;
        break;
      }
      const std::size_t at = size_ % kChunkBytes;
      const std::size_t take = std::min({kChunkBytes - at, cap_ - size_, count});
      std::memcpy(chunks_[size_ / kChunkBytes].get() + at, bytes, take);
      size_ += take;
      bytes += take;
      count -= take;
    }
  }
  changed_.notify_all();
  return all;
}

void DownloadedFile::Finish(bool complete) {
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
    complete_ = complete;
  }
  changed_.notify_all();
}

void DownloadedFile::MarkOutOfMemory() {
  std::lock_guard lock(mutex_);
  outOfMemory_ = true;
}

#if TUNER_TEST_BUILD
void DownloadedFile::FailAllocationAt(std::size_t offset) {
  std::lock_guard lock(mutex_);
  failAt_ = offset;
}
#endif

std::int64_t DownloadedFile::AnnouncedSize() const {
  std::lock_guard lock(mutex_);
  return announced_;
}

std::int64_t DownloadedFile::Size() const {
  std::lock_guard lock(mutex_);
  if (announced_ >= 0) return announced_;
  return finished_ ? static_cast<std::int64_t>(size_) : -1;
}

std::size_t DownloadedFile::Received() const {
  std::lock_guard lock(mutex_);
  return size_;
}

bool DownloadedFile::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

bool DownloadedFile::Complete() const {
  std::lock_guard lock(mutex_);
  return complete_;
}

bool DownloadedFile::OutOfMemory() const {
  std::lock_guard lock(mutex_);
  return outOfMemory_;
}

std::size_t DownloadedFile::Read(std::size_t offset, std::uint8_t* out, std::size_t count) const {
  std::lock_guard lock(mutex_);
  if (offset >= size_) return 0;
  const std::size_t total = std::min(count, size_ - offset);
  for (std::size_t done = 0; done < total;) {
    const std::size_t at = (offset + done) % kChunkBytes;
    const std::size_t take = std::min(kChunkBytes - at, total - done);
    std::memcpy(out + done, chunks_[(offset + done) / kChunkBytes].get() + at, take);
    done += take;
  }
  return total;
}

bool DownloadedFile::WaitBeyond(std::size_t have, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return size_ > have || finished_ || woken_; });
  return size_ > have || finished_;
}

void DownloadedFile::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  changed_.notify_all();
}
