#include "standins/bass/stream_facts.h"

#include <gtest/gtest.h>

namespace {

FrameHeader Mpeg1(int kbps, int rate = 44100, int channels = 2) {
  FrameHeader h;
  h.version = MpegVersion::Mpeg1;
  h.bitrateKbps = kbps;
  h.sampleRate = rate;
  h.channels = channels;
  h.samplesPerFrame = 1152;
  h.frameBytes = 144 * kbps * 1000 / rate;
  return h;
}

TEST(ComputeStreamFacts, SummaryFrameCountGivesTheExactLength) {
  StreamLayout layout;
  layout.first = Mpeg1(128);
  layout.summary = VbrSummary{1000u, 417u + 400000u};  // the summary frame counts too
  layout.audioStart = 2048;
  layout.fileSize = 2048 + 417 + 400000 + 128;
  StreamFacts facts = ComputeStreamFacts(layout);
  EXPECT_TRUE(facts.lengthExact);
  EXPECT_EQ(facts.lengthBytes, 1000 * 1152 * 4);
  // 400000 bytes over 1000 frames of 1152 / 44100 s.
  EXPECT_NEAR(facts.bitrateKbps, 400000 * 8 / (1000 * 1152 / 44100.0) / 1000, 0.01);
  EXPECT_NEAR(BytesToSeconds(facts, facts.lengthBytes), 1000 * 1152 / 44100.0, 1e-9);
}

TEST(ComputeStreamFacts, SummaryWithoutByteCountTakesTheBytesAfterIt) {
  StreamLayout layout;
  layout.first = Mpeg1(192, 48000, 1);
  layout.summary = VbrSummary{500u, std::nullopt};
  layout.audioStart = 0;
  layout.fileSize = 576 + 120000;
  StreamFacts facts = ComputeStreamFacts(layout);
  EXPECT_EQ(facts.lengthBytes, 500 * 1152 * 2);
  EXPECT_NEAR(facts.bitrateKbps, 120000 * 8 / (500 * 1152 / 48000.0) / 1000, 0.01);
}

TEST(ComputeStreamFacts, ConstantBitrateCountsFramesFromTheFileSize) {
  // 100 frames of 128 kbps at 44.1 kHz with the padding pattern a encoder uses.
  StreamLayout layout;
  layout.first = Mpeg1(128);
  layout.audioStart = 300;
  const double meanFrame = 128000.0 * 1152 / 44100 / 8;
  layout.fileSize = 300 + static_cast<std::int64_t>(100 * meanFrame);
  StreamFacts facts = ComputeStreamFacts(layout);
  EXPECT_FALSE(facts.lengthExact);
  EXPECT_EQ(facts.lengthBytes, 100 * 1152 * 4);
  EXPECT_FLOAT_EQ(facts.bitrateKbps, 128);
  // A trailing 128-byte tag does not add a frame.
  layout.fileSize += 128;
  EXPECT_EQ(ComputeStreamFacts(layout).lengthBytes, 100 * 1152 * 4);
}

TEST(ComputeStreamFacts, UnknownSizeLeavesTheLengthUntold) {
  StreamLayout layout;
  layout.first = Mpeg1(128);
  layout.fileSize = -1;
  StreamFacts facts = ComputeStreamFacts(layout);
  EXPECT_EQ(facts.lengthBytes, -1);
  EXPECT_FLOAT_EQ(facts.bitrateKbps, 128);
  layout.summary = VbrSummary{10u, std::nullopt};
  facts = ComputeStreamFacts(layout);
  EXPECT_EQ(facts.lengthBytes, 10 * 1152 * 4);
}

TEST(BytesToSeconds, UsesRateAndChannels) {
  StreamFacts facts;
  facts.sampleRate = 22050;
  facts.channels = 1;
  EXPECT_DOUBLE_EQ(BytesToSeconds(facts, 44100), 1.0);
  facts.channels = 2;
  EXPECT_DOUBLE_EQ(BytesToSeconds(facts, 44100), 0.5);
  EXPECT_LT(BytesToSeconds(StreamFacts{}, 1000), 0);
}

}  // namespace
