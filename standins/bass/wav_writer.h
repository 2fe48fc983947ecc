#pragma once
// A 16-bit PCM WAV file written as samples arrive; the sizes in its header are brought up
// to date on every flush and on close, so the file is valid whenever it was last flushed.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The 44-byte header of a 16-bit PCM WAV file holding `dataBytes` of samples.
std::vector<std::uint8_t> WavHeader(int sampleRate, int channels, std::uint32_t dataBytes);

class WavWriter {
 public:
  WavWriter() = default;
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;
  ~WavWriter() { Close(); }

  bool Open(const std::string& path, int sampleRate, int channels);
  bool IsOpen() const { return file_ != nullptr; }
  void Append(const std::int16_t* samples, std::size_t count);
  void Flush();
  void Close();

 private:
  std::FILE* file_ = nullptr;
  int sampleRate_ = 0;
  int channels_ = 0;
  std::uint64_t dataBytes_ = 0;
};

// The capture file of the n-th stream (n from 1): "song.wav" gives "song-1.wav",
// "song-2.wav"..., a name without an extension gets the number appended.
std::string NumberedCapturePath(const std::string& pattern, unsigned number);
