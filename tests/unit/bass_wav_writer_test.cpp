#include "standins/bass/wav_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t(b[at + 3]) << 24);
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(WavHeader, DescribesSixteenBitPcm) {
  std::vector<std::uint8_t> h = WavHeader(48000, 1, 1000);
  ASSERT_EQ(h.size(), 44u);
  EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RIFF");
  EXPECT_EQ(Le32(h, 4), 1036u);
  EXPECT_EQ(std::string(h.begin() + 8, h.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(Le32(h, 24), 48000u);
  EXPECT_EQ(Le32(h, 28), 96000u);  // bytes per second
  EXPECT_EQ(h[32], 2);             // block align
  EXPECT_EQ(h[34], 16);
  EXPECT_EQ(Le32(h, 40), 1000u);
}

TEST(WavWriter, WritesSamplesAndKeepsTheHeaderCurrent) {
  const std::string path =
      (std::filesystem::temp_directory_path() / "bass_wav_writer_test.wav").string();
  {
    WavWriter writer;
    ASSERT_TRUE(writer.Open(path, 44100, 2));
    const std::int16_t first[] = {1, -1, 256, -256};
    writer.Append(first, 4);
    writer.Flush();
    std::vector<std::uint8_t> flushed = ReadAll(path);
    ASSERT_EQ(flushed.size(), 44u + 8u);
    EXPECT_EQ(Le32(flushed, 40), 8u);
    const std::int16_t second[] = {7, 8};
    writer.Append(second, 2);
  }  // closing brings the header up to date
  std::vector<std::uint8_t> done = ReadAll(path);
  ASSERT_EQ(done.size(), 44u + 12u);
  EXPECT_EQ(Le32(done, 40), 12u);
  EXPECT_EQ(Le32(done, 4), 36u + 12u);
  EXPECT_EQ(done[44 + 2], 0xFF);  // -1, little-endian
  EXPECT_EQ(done[44 + 5], 0x01);  // 256
  EXPECT_EQ(done[44 + 10], 8);
  std::filesystem::remove(path);
}

TEST(WavWriter, FailsQuietlyWhereNoFileCanBeMade) {
  WavWriter writer;
  EXPECT_FALSE(writer.Open("/nonexistent-directory/x.wav", 44100, 2));
  const std::int16_t s[] = {1};
  writer.Append(s, 1);
  writer.Close();
  EXPECT_FALSE(writer.IsOpen());
}

TEST(NumberedCapturePath, PutsTheNumberBeforeTheExtension) {
  EXPECT_EQ(NumberedCapturePath("Z:\\tmp\\song.wav", 1), "Z:\\tmp\\song-1.wav");
  EXPECT_EQ(NumberedCapturePath("/tmp/song.wav", 12), "/tmp/song-12.wav");
  EXPECT_EQ(NumberedCapturePath("C:\\dir.d\\capture", 2), "C:\\dir.d\\capture-2");
  EXPECT_EQ(NumberedCapturePath("C:\\dir\\.hidden", 3), "C:\\dir\\.hidden-3");
}

}  // namespace
