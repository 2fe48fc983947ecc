#include "standins/bass/wav_writer.h"


namespace {

void Put(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
}

void PutTag(std::vector<std::uint8_t>& out, std::size_t at, const char* tag) {
  for (std::size_t i = 0; i < 4; ++i) out[at + i] = std::uint8_t(tag[i]);
}

}  // namespace

std::vector<std::uint8_t> WavHeader(int sampleRate, int channels, std::uint32_t dataBytes) {
  std::vector<std::uint8_t> h(44, 0);
  const std::uint32_t blockAlign = std::uint32_t(channels) * 2;
  PutTag(h, 0, "RIFF");
  Put(h, 4, 36 + dataBytes, 4);
  PutTag(h, 8, "WAVE");
  PutTag(h, 12, "fmt ");
  Put(h, 16, 16, 4);
  Put(h, 20, 1, 2);  // PCM
  Put(h, 22, std::uint32_t(channels), 2);
  Put(h, 24, std::uint32_t(sampleRate), 4);
  Put(h, 28, std::uint32_t(sampleRate) * blockAlign, 4);
  Put(h, 32, blockAlign, 2);
  Put(h, 34, 16, 2);
  PutTag(h, 36, "data");
  Put(h, 40, dataBytes, 4);
  return h;
}

bool WavWriter::Open(const std::string& path, int sampleRate, int channels) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  sampleRate_ = sampleRate;
  channels_ = channels;
  dataBytes_ = 0;
  std::vector<std::uint8_t> header = WavHeader(sampleRate, channels, 0);
  std::fwrite(header.data(), 1, header.size(), file_);
  return true;
}

void WavWriter::Append(const std::int16_t* samples, std::size_t count) {
  if (file_ == nullptr || count == 0) return;
  // WAV files are little-endian, as is every machine this runs on.
  std::fwrite(samples, sizeof(std::int16_t), count, file_);
  dataBytes_ += count * sizeof(std::int16_t);
}

void WavWriter::Flush() {
  if (file_ == nullptr) return;
  // The header's sizes are 32-bit; a capture past 4 GiB keeps the largest it can state.
  std::uint32_t bytes = dataBytes_ > 0xFFFFFFD0u ? 0xFFFFFFD0u : std::uint32_t(dataBytes_);
  std::vector<std::uint8_t> header = WavHeader(sampleRate_, channels_, bytes);
  long end = std::ftell(file_);
  std::fseek(file_, 0, SEEK_SET);
  std::fwrite(header.data(), 1, header.size(), file_);
  std::fseek(file_, end, SEEK_SET);
  std::fflush(file_);
}

void WavWriter::Close() {
  if (file_ == nullptr) return;
  Flush();
  std::fclose(file_);
  file_ = nullptr;
}

std::string NumberedCapturePath(const std::string& pattern, unsigned number) {
  char suffix[16];
  std::snprintf(suffix, sizeof(suffix), "-%u", number);
  std::size_t dot = pattern.find_last_of('.');
  std::size_t separator = pattern.find_last_of("/\\");
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator) ||
      dot == separator + 1 || dot == 0) {
    std::string path = pattern;
    path.append(suffix);
    return path;
  }
  std::string path = pattern;
  path.insert(dot, suffix);
  return path;
}
