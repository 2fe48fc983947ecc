#include "standins/bass/stream_format.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Silent MPEG-1 Layer III frames, 128 kbps at 44.1 kHz stereo (417 bytes each).
std::vector<std::uint8_t> Frames(int count) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t header[] = {0xFF, 0xFB, 0x90, 0x00};
    out.insert(out.end(), header, header + 4);
    out.resize(out.size() + 413, 0);
  }
  return out;
}

// An ID3v2.3 tag of `body` bytes.
std::vector<std::uint8_t> Tag(std::size_t body) {
  std::vector<std::uint8_t> tag = {'I', 'D', '3', 3, 0, 0, 0, 0, std::uint8_t(body >> 7),
                                   std::uint8_t(body & 0x7F)};
  tag.resize(tag.size() + body, 0);
  return tag;
}

void Give(DownloadedFile& file, const std::vector<std::uint8_t>& bytes, bool finished) {
  ASSERT_TRUE(file.Append(bytes.data(), bytes.size()));
  if (finished) file.Finish(true);
}

TEST(RecogniseFormat, FindsTheAudioAfterTagsAndJunkAndKeepsTheTags) {
  DownloadedFile file;
  std::vector<std::uint8_t> bytes = Tag(300);
  bytes.resize(bytes.size() + 1000, 0x11);  // junk between the tag and the audio
  const std::vector<std::uint8_t> frames = Frames(40);
  bytes.insert(bytes.end(), frames.begin(), frames.end());
  file.Announce(std::int64_t(bytes.size()));
  Give(file, bytes, true);
  FormatFailure failure{};
  const auto format = RecogniseFormat(file, Clock::now(), &failure);
  ASSERT_TRUE(format);
  EXPECT_EQ(format->audioStart, 310u + 1000u);
  EXPECT_EQ(format->firstAudioFrame, format->audioStart);  // no summary frame to skip
  EXPECT_EQ(format->id3v2.size(), 310u);
  EXPECT_EQ(format->facts.sampleRate, 44100);
  EXPECT_EQ(format->facts.lengthBytes, 40 * 1152 * 4);
}

TEST(RecogniseFormat, WaitsForBytesStillComing) {
  DownloadedFile file;
  const std::vector<std::uint8_t> frames = Frames(10);
  std::thread late([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Give(file, frames, false);
  });
  FormatFailure failure{};
  const auto format = RecogniseFormat(file, Clock::now() + std::chrono::seconds(10), &failure);
  late.join();
  ASSERT_TRUE(format);
  EXPECT_EQ(format->audioStart, 0u);
  // A size nobody announced is measured once the file is all here.
  EXPECT_EQ(MeasuredLength(*format, file), -1);
  file.Finish(true);
  EXPECT_EQ(MeasuredLength(*format, file), 10 * 1152 * 4);
}

TEST(RecogniseFormat, TellsWhyNoStreamCanBeMade) {
  FormatFailure failure{};
  DownloadedFile page;
  Give(page, std::vector<std::uint8_t>(100 * 1024, '<'), true);
  EXPECT_FALSE(RecogniseFormat(page, Clock::now(), &failure));
  EXPECT_EQ(failure, FormatFailure::NotMp3);

  DownloadedFile slow;
  Give(slow, Tag(2000), false);  // a tag so far, and nothing after it
  EXPECT_FALSE(RecogniseFormat(slow, Clock::now() + std::chrono::milliseconds(30), &failure));
  EXPECT_EQ(failure, FormatFailure::TimedOut);
}

}  // namespace
