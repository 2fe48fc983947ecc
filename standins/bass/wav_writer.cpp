#include "standins/bass/wav_writer.h"

#include <cstring>

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(std::uint8_t(value));
  out.push_back(std::uint8_t(value >> 8));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}
void PutTag(std::vector<std::uint8_t>& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }

}  // namespace

std::vector<std::uint8_t> WavHeader(int sampleRate, int channels, std::uint32_t dataBytes) {
  std::vector<std::uint8_t> h;
  const std::uint32_t blockAlign = std::uint32_t(channels) * 2;
  PutTag(h, "RIFF");
  Put32(h, 36 + dataBytes);
  PutTag(h, "WAVE");
  PutTag(h, "fmt ");
  Put32(h, 16);
  Put16(h, 1);  // PCM
  Put16(h, std::uint32_t(channels));
  Put32(h, std::uint32_t(sampleRate));
  Put32(h, std::uint32_t(sampleRate) * blockAlign);
  Put16(h, blockAlign);
  Put16(h, 16);
  PutTag(h, "data");
  Put32(h, dataBytes);
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
  const std::string suffix = "-" + std::to_string(number);
  std::size_t dot = pattern.find_last_of('.');
  std::size_t separator = pattern.find_last_of("/\\");
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator) ||
      dot == separator + 1 || dot == 0) {
    return pattern + suffix;
  }
  return pattern.substr(0, dot) + suffix + pattern.substr(dot);
}
