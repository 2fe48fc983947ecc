#pragma once
// The whole file of a stream, kept in memory as it arrives, so that playback can follow
// the download and a restart needs no second request. One writer (the download) appends;
// readers copy stretches out. Every member is safe to call from any thread.
//
// Memory is bounded twice: one file holds at most its cap, and the files of all streams
// together at most what their shared budget allows. Storage grows in chunks, so what is
// already held is never copied to make room for more.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// Bytes that several owners draw on, with a limit on the sum.
class MemoryBudget {
 public:
  explicit MemoryBudget(std::size_t limit) : limit_(limit) {}
  // False, and nothing taken, when `bytes` more would pass the limit.
  bool Take(std::size_t bytes);
  void Give(std::size_t bytes);
  std::size_t InUse() const { return used_.load(); }

 private:
  const std::size_t limit_;
  std::atomic<std::size_t> used_{0};
};

class DownloadedFile {
 public:
  static constexpr std::size_t kChunkBytes = 256 * 1024;
  // 56 minutes at 320 kbps: far more than a song. A server's word is never enough for more.
  static constexpr std::size_t kStreamCap = 128 * 1024 * 1024;
  // All streams of the process together: a stream being freed and its successor.
  static constexpr std::size_t kProcessCap = 2 * kStreamCap;

  explicit DownloadedFile(std::size_t cap = kStreamCap, MemoryBudget& budget = SharedBudget());
  DownloadedFile(const DownloadedFile&) = delete;
  DownloadedFile& operator=(const DownloadedFile&) = delete;
  ~DownloadedFile();

  // What every stream draws on, kProcessCap in all.
  static MemoryBudget& SharedBudget();

  // The size the server announced, -1 when it did not. False when that is more than the
  // file may hold: nothing is kept, and the caller gives up at once.
  bool Announce(std::int64_t size);
  // Appends what fits. False when not all of it did: the file is full (at its cap, or the
  // process's budget is spent) and takes nothing more. A chunk that cannot be allocated
  // throws std::bad_alloc; the file then holds what it held before the chunk.
  bool Append(const std::uint8_t* bytes, std::size_t count);
  // No more bytes will come; `complete` false when the transfer broke off or was stopped.
  void Finish(bool complete);
  // The download ran out of memory (the budget refused, or an allocation failed).
  void MarkOutOfMemory();

  std::int64_t AnnouncedSize() const;
  // The announced size, or what arrived once the download is over and nothing was said.
  std::int64_t Size() const;
  std::size_t Received() const;
  bool Finished() const;
  bool Complete() const;
  bool OutOfMemory() const;

  // Copies up to `count` bytes from `offset`; returns how many there were.
  std::size_t Read(std::size_t offset, std::uint8_t* out, std::size_t count) const;

  // Waits until more than `have` bytes arrived, the download finished, `stop` was set
  // by Wake(), or the time ran out. True if it returned because of new bytes or the end.
  bool WaitBeyond(std::size_t have, std::chrono::milliseconds timeout) const;
  // Wakes every waiter (used when the stream is being torn down).
  void Wake();

#if TUNER_TEST_BUILD
  // For tests of the download's failure path: the chunk that would hold byte `offset`
  // cannot be allocated, as if memory had run out there.
  void FailAllocationAt(std::size_t offset);
#endif

 private:
  // With the mutex held: a chunk more, or false when the cap or the budget says no.
  bool GrowLocked();

  const std::size_t cap_;
  MemoryBudget& budget_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
  std::size_t size_ = 0;
#if TUNER_TEST_BUILD
  std::size_t failAt_ = SIZE_MAX;
#endif
  std::int64_t announced_ = -1;
  bool finished_ = false;
  bool complete_ = false;
  bool outOfMemory_ = false;
  bool woken_ = false;
};
