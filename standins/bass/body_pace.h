#pragma once
// When a response body that keeps coming, but too slowly to play, counts as broken. A
// server that sends a byte every few seconds never trips a read time-out, yet the stream
// it feeds can neither play nor end. The body is measured over windows of a fixed length
// from the moment the head arrived; the first window that brings less than the minimum
// breaks it off, so a trickle ends the download at most one window after it began.
#include <cstddef>
#include <cstdint>

class BodyPace {
 public:
  BodyPace(std::int64_t windowMs, std::size_t minimumBytes)
      : windowMs_(windowMs), minimum_(minimumBytes) {}

  void Start(std::int64_t nowMs);
  void Received(std::size_t bytes) { bytes_ += bytes; }
  // True from the end of the first window that brought too little.
  bool Broken(std::int64_t nowMs);
  // How long a wait for the next piece may last before Broken must be asked again.
  std::int64_t MillisToNextCheck(std::int64_t nowMs) const;

 private:
  std::int64_t windowMs_;
  std::size_t minimum_;
  std::int64_t windowStart_ = 0;
  std::size_t bytes_ = 0;
  bool broken_ = false;
};
