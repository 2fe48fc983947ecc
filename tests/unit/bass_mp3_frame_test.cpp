#include "standins/bass/mp3_frame.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Header bytes: version bits 3 (MPEG-1), 2 (MPEG-2), 0 (MPEG-2.5); Layer III; no CRC.
std::vector<std::uint8_t> Header(int versionBits, int bitrateIndex, int rateIndex, bool padding,
                                 bool mono) {
  return {0xFF, std::uint8_t(0xE0 | (versionBits << 3) | (1 << 1) | 1),
          std::uint8_t((bitrateIndex << 4) | (rateIndex << 2) | (padding ? 2 : 0)),
          std::uint8_t(mono ? 0xC0 : 0x00)};
}

// A stream of silent frames of one kind, each with its own header.
std::vector<std::uint8_t> Frames(int count, int bitrateIndex = 9, bool padding = false) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < count; ++i) {
    std::vector<std::uint8_t> h = Header(3, bitrateIndex, 0, padding, false);
    int length = ParseFrameHeader(h.data())->frameBytes;
    out.insert(out.end(), h.begin(), h.end());
    out.resize(out.size() + std::size_t(length - 4), 0);
  }
  return out;
}

TEST(ParseFrameHeader, ReadsRateBitrateAndLengthOfEachMpegVersion) {
  auto mpeg1 = ParseFrameHeader(Header(3, 9, 0, false, false).data());
  ASSERT_TRUE(mpeg1);
  EXPECT_EQ(mpeg1->version, MpegVersion::Mpeg1);
  EXPECT_EQ(mpeg1->bitrateKbps, 128);
  EXPECT_EQ(mpeg1->sampleRate, 44100);
  EXPECT_EQ(mpeg1->channels, 2);
  EXPECT_EQ(mpeg1->samplesPerFrame, 1152);
  EXPECT_EQ(mpeg1->frameBytes, 417);  // 144 * 128000 / 44100, rounded down

  auto padded = ParseFrameHeader(Header(3, 9, 0, true, true).data());
  EXPECT_EQ(padded->frameBytes, 418);
  EXPECT_EQ(padded->channels, 1);

  auto mpeg2 = ParseFrameHeader(Header(2, 8, 1, false, false).data());  // 64 kbps, 24 kHz
  ASSERT_TRUE(mpeg2);
  EXPECT_EQ(mpeg2->bitrateKbps, 64);
  EXPECT_EQ(mpeg2->sampleRate, 24000);
  EXPECT_EQ(mpeg2->samplesPerFrame, 576);
  EXPECT_EQ(mpeg2->frameBytes, 72 * 64000 / 24000);

  auto mpeg25 = ParseFrameHeader(Header(0, 1, 2, false, true).data());  // 8 kbps, 8 kHz
  ASSERT_TRUE(mpeg25);
  EXPECT_EQ(mpeg25->version, MpegVersion::Mpeg25);
  EXPECT_EQ(mpeg25->sampleRate, 8000);
  EXPECT_EQ(mpeg25->frameBytes, 72);

  auto top = ParseFrameHeader(Header(3, 14, 2, true, false).data());  // 320 kbps, 32 kHz
  EXPECT_EQ(top->frameBytes, 1441);
}

TEST(ParseFrameHeader, RefusesWhatCannotBeLayerThree) {
  std::vector<std::uint8_t> h = Header(3, 9, 0, false, false);
  EXPECT_FALSE(ParseFrameHeader(Header(1, 9, 0, false, false).data()));  // reserved version
  EXPECT_FALSE(ParseFrameHeader(Header(3, 0, 0, false, false).data()));  // free format
  EXPECT_FALSE(ParseFrameHeader(Header(3, 15, 0, false, false).data()));
  EXPECT_FALSE(ParseFrameHeader(Header(3, 9, 3, false, false).data()));  // reserved rate
  std::vector<std::uint8_t> layer2 = h;
  layer2[1] = std::uint8_t((layer2[1] & ~0x06) | (2 << 1));
  EXPECT_FALSE(ParseFrameHeader(layer2.data()));
  std::vector<std::uint8_t> nosync = h;
  nosync[1] = 0x7B;
  EXPECT_FALSE(ParseFrameHeader(nosync.data()));
}

TEST(Id3v2TagSize, CountsHeaderSyncsafeBodyAndFooter) {
  std::vector<std::uint8_t> tag = {'I', 'D', '3', 4, 0, 0, 0x00, 0x00, 0x02, 0x01};
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size()), 10u + 257u);
  tag[5] = 0x10;  // footer present
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size()), 10u + 257u + 10u);
  tag[5] = 0;
  tag[6] = 0x7F, tag[7] = 0x7F, tag[8] = 0x7F, tag[9] = 0x7F;
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size()), 10u + 0x0FFFFFFFu);
  tag[8] = 0x80;  // not syncsafe: not a tag
  EXPECT_EQ(Id3v2TagSize(tag.data(), tag.size()), 0u);
  EXPECT_EQ(Id3v2TagSize(tag.data(), 9), 0u);
  std::vector<std::uint8_t> frame = Frames(1);
  EXPECT_EQ(Id3v2TagSize(frame.data(), frame.size()), 0u);
}

TEST(ParseVbrSummary, ReadsXingInfoAndVbriCounts) {
  std::vector<std::uint8_t> frame = Frames(1);
  FrameHeader h = *ParseFrameHeader(frame.data());
  EXPECT_FALSE(ParseVbrSummary(frame.data(), frame.size(), h));

  const std::size_t at = 4 + 32;  // stereo MPEG-1 side information
  std::vector<std::uint8_t> xing = frame;
  const std::uint8_t body[] = {'X', 'i', 'n', 'g', 0, 0, 0, 3, 0, 0, 0x12, 0x34, 0, 1, 0, 0};
  std::copy(std::begin(body), std::end(body), xing.begin() + at);
  auto summary = ParseVbrSummary(xing.data(), xing.size(), h);
  ASSERT_TRUE(summary);
  EXPECT_EQ(*summary->frames, 0x1234u);
  EXPECT_EQ(*summary->bytes, 0x10000u);

  std::vector<std::uint8_t> info = xing;
  info[at] = 'I', info[at + 1] = 'n', info[at + 2] = 'f', info[at + 3] = 'o';
  info[at + 7] = 2;  // bytes only
  summary = ParseVbrSummary(info.data(), info.size(), h);
  ASSERT_TRUE(summary);
  EXPECT_FALSE(summary->frames);
  EXPECT_EQ(*summary->bytes, 0x1234u);

  std::vector<std::uint8_t> mono = Frames(1);
  mono[3] = 0xC0;
  FrameHeader monoHeader = *ParseFrameHeader(mono.data());
  std::copy(std::begin(body), std::end(body), mono.begin() + 4 + 17);
  EXPECT_EQ(*ParseVbrSummary(mono.data(), mono.size(), monoHeader)->frames, 0x1234u);

  std::vector<std::uint8_t> vbri = frame;
  const std::uint8_t vbriBody[] = {'V', 'B', 'R', 'I', 0, 1, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0x01, 0x00};
  std::copy(std::begin(vbriBody), std::end(vbriBody), vbri.begin() + 36);
  summary = ParseVbrSummary(vbri.data(), vbri.size(), h);
  ASSERT_TRUE(summary);
  EXPECT_EQ(*summary->bytes, 0x4000u);
  EXPECT_EQ(*summary->frames, 0x100u);
}

FrameLocation Find(const std::vector<std::uint8_t>& data, bool complete, std::size_t from = 0,
                   int chain = 3) {
  FrameSearchRequest r;
  r.data = data.data();
  r.size = data.size();
  r.complete = complete;
  r.from = from;
  r.chain = chain;
  return FindFrame(r);
}

TEST(FindFrame, NeedsAChainOfHeadersBeforeTakingAFrame) {
  std::vector<std::uint8_t> data = {'j', 'u', 'n', 'k', 0xFF, 0xFB, 0x90, 0x00, 'x'};
  std::vector<std::uint8_t> frames = Frames(4);
  data.insert(data.end(), frames.begin(), frames.end());
  FrameLocation found = Find(data, false);
  ASSERT_EQ(found.result, FrameSearch::Found);
  EXPECT_EQ(found.offset, 9u);  // the lone header at 4 has no successor where it says
  EXPECT_EQ(found.header.bitrateKbps, 128);
}

TEST(FindFrame, WaitsForTheSuccessorsOfAnUnfinishedDownload) {
  std::vector<std::uint8_t> data = Frames(2);
  data.resize(data.size() - 10);
  FrameLocation waiting = Find(data, false);
  EXPECT_EQ(waiting.result, FrameSearch::NeedMoreData);
  EXPECT_EQ(waiting.offset, 0u);
  // Once the file is known to be over, a whole last frame stands on its own...
  std::vector<std::uint8_t> whole = Frames(2);
  EXPECT_EQ(Find(whole, true).result, FrameSearch::Found);
  // ...but a cut-off one does not.
  EXPECT_EQ(Find(data, true, 417).result, FrameSearch::NotFound);
}

TEST(FindFrame, AcceptsTagsAfterTheLastFrameAndRefusesTextAndNoise) {
  std::vector<std::uint8_t> data = Frames(2);
  const char trailer[] = "TAGtitle";
  data.insert(data.end(), trailer, trailer + 8);
  EXPECT_EQ(Find(data, false, 417).result, FrameSearch::Found);

  std::string html = "<html><body>Not found</body></html>";
  std::vector<std::uint8_t> page(html.begin(), html.end());
  EXPECT_EQ(Find(page, true).result, FrameSearch::NotFound);
  EXPECT_EQ(Find({}, true).result, FrameSearch::NotFound);

  std::vector<std::uint8_t> noise(200000);
  std::uint32_t state = 12345;
  for (auto& b : noise) {
    state = state * 1664525u + 1013904223u;
    b = std::uint8_t(state >> 24);
  }
  EXPECT_EQ(Find(noise, true).result, FrameSearch::NotFound);
}

TEST(FindFrame, KeepsToOneStreamAndItsLimit) {
  std::vector<std::uint8_t> data = Frames(3);
  FrameHeader other = *ParseFrameHeader(Header(2, 8, 1, false, false).data());
  FrameSearchRequest r;
  r.data = data.data();
  r.size = data.size();
  r.complete = true;
  r.stream = &other;
  EXPECT_EQ(FindFrame(r).result, FrameSearch::NotFound);
  std::vector<std::uint8_t> late(5000, 0);
  late.insert(late.end(), data.begin(), data.end());
  r.data = late.data();
  r.size = late.size();
  r.stream = nullptr;
  r.limit = 4000;
  EXPECT_EQ(FindFrame(r).result, FrameSearch::NotFound);
  r.limit = 5000;
  EXPECT_EQ(FindFrame(r).offset, 5000u);
}

}  // namespace
