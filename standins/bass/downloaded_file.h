#pragma once
// The whole file of a stream, kept in memory as it arrives, so that playback can follow
// the download and a restart needs no second request. One writer (the download) appends;
// readers copy stretches out. Every member is safe to call from any thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

class DownloadedFile {
 public:
  // The size the server announced, -1 when it did not; memory for it is set aside at once.
  void Announce(std::int64_t size);
  void Append(const std::uint8_t* bytes, std::size_t count);
  // No more bytes will come; `complete` false when the transfer broke off or was stopped.
  void Finish(bool complete);

  std::int64_t AnnouncedSize() const;
  // The announced size, or what arrived once the download is over and nothing was said.
  std::int64_t Size() const;
  std::size_t Received() const;
  bool Finished() const;
  bool Complete() const;

  // Copies up to `count` bytes from `offset`; returns how many there were.
  std::size_t Read(std::size_t offset, std::uint8_t* out, std::size_t count) const;
  // Copies everything received so far.
  std::vector<std::uint8_t> Snapshot() const;

  // Waits until more than `have` bytes arrived, the download finished, `stop` was set
  // by Wake(), or the time ran out. True if it returned because of new bytes or the end.
  bool WaitBeyond(std::size_t have, std::chrono::milliseconds timeout) const;
  // Wakes every waiter (used when the stream is being torn down).
  void Wake();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::uint8_t> bytes_;
  std::int64_t announced_ = -1;
  bool finished_ = false;
  bool complete_ = false;
  bool woken_ = false;
};
