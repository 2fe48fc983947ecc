// The two programs' stored logos, compiled in here under names of their own.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "logo/logo_record.h"

#include "tests/support/stored_logos.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Decoded(const LogoRecord& record, LogoKind kind) {
  const LogoBytes bytes = DecodeLogo(ReadLogoRecord(record), kind);
  return Bytes(bytes.data, bytes.data + bytes.size);
}

std::uint32_t BigEndian32(const Bytes& data, std::size_t at) {
  return std::uint32_t{data[at]} << 24 | data[at + 1] << 16 | data[at + 2] << 8 | data[at + 3];
}

std::uint16_t LittleEndian16(const Bytes& data, std::size_t at) {
  return static_cast<std::uint16_t>(data[at] | data[at + 1] << 8);
}

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  }
  return ~crc;
}

struct GifFacts {
  int width = 0, height = 0;
  int frames = 0;
  int framesWithTransparency = 0;
  bool endsWithTrailer = false;
};

// Walks the GIF's blocks; a cut or malformed block stops the walk early.
GifFacts ReadGif(const Bytes& gif) {
  GifFacts facts;
  if (gif.size() < 13 || std::memcmp(gif.data(), "GIF89a", 6) != 0) return facts;
  facts.width = LittleEndian16(gif, 6);
  facts.height = LittleEndian16(gif, 8);
  std::size_t at = 13;
  if (gif[10] & 0x80) at += 3u << ((gif[10] & 7) + 1);
  auto skipSubBlocks = [&] {
    while (at < gif.size() && gif[at] != 0) at += gif[at] + 1u;
    ++at;
  };
  while (at < gif.size()) {
    const std::uint8_t kind = gif[at];
    if (kind == 0x3B) {
      facts.endsWithTrailer = at + 1 == gif.size();
      return facts;
    }
    if (kind == 0x21 && at + 2 < gif.size()) {
      if (gif[at + 1] == 0xF9 && gif[at + 3] & 1) ++facts.framesWithTransparency;
      at += 2;
      skipSubBlocks();
    } else if (kind == 0x2C && at + 10 < gif.size()) {
      ++facts.frames;
      const std::uint8_t flags = gif[at + 9];
      at += 10;
      if (flags & 0x80) at += 3u << ((flags & 7) + 1);
      ++at;  // LZW code size
      skipSubBlocks();
    } else {
      return facts;
    }
  }
  return facts;
}

std::string FileText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void ExpectLines(const LogoRecord& record, std::size_t lines, std::size_t lastLength) {
  ASSERT_EQ(record.items.size(), 5 + lines);
  for (std::size_t i = 5; i + 1 < record.items.size(); ++i) {
    EXPECT_EQ(std::strlen(record.items[i]), 504u) << "line " << i - 4;
  }
  EXPECT_EQ(std::strlen(record.items.back()), lastLength);
}

}  // namespace

TEST(StoredLogos, ListenTunerRecordHas144LinesOfBase128) {
  const LogoText logo = ReadLogoRecord(ListenTunerLogo());
  EXPECT_EQ(logo.lineCount, 144);
  EXPECT_EQ(logo.declaredLength, 63212);
  EXPECT_EQ(logo.encoding, "Base128");
  EXPECT_STREQ(ListenTunerLogo().items[1], "0");
  EXPECT_STREQ(ListenTunerLogo().items[3], "0");
  EXPECT_EQ(logo.text.size(), 72243u);
  ExpectLines(ListenTunerLogo(), 144, 171);
}

TEST(StoredLogos, DownloadTunerRecordHas13LinesOfBase64) {
  const LogoText logo = ReadLogoRecord(DownloadTunerLogo());
  EXPECT_EQ(logo.lineCount, 13);
  EXPECT_EQ(logo.declaredLength, 4611);
  EXPECT_EQ(logo.encoding, "Base64");
  EXPECT_EQ(logo.text.size(), 6148u);
  ExpectLines(DownloadTunerLogo(), 13, 100);
}

TEST(StoredLogos, ListenTunerDecodesToAnAnimatedGifOfTheDeclaredSize) {
  const Bytes gif = Decoded(ListenTunerLogo(), LogoKind::AnimatedBase128);
  ASSERT_EQ(gif.size(), 63212u);
  const GifFacts facts = ReadGif(gif);
  EXPECT_EQ(facts.width, 64);
  EXPECT_EQ(facts.height, 64);
  EXPECT_GE(facts.frames, 2);
  EXPECT_EQ(facts.framesWithTransparency, facts.frames);
  EXPECT_TRUE(facts.endsWithTrailer);
}

TEST(StoredLogos, DownloadTunerDecodesToA48PixelRgbaPngOfThreeChunks) {
  const Bytes png = Decoded(DownloadTunerLogo(), LogoKind::StillBase64);
  ASSERT_EQ(png.size(), 4611u);
  const std::array<std::uint8_t, 8> signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ASSERT_TRUE(std::equal(signature.begin(), signature.end(), png.begin()));

  std::vector<std::string> chunks;
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    const std::uint32_t length = BigEndian32(png, at);
    ASSERT_LE(at + 12 + length, png.size());
    chunks.emplace_back(reinterpret_cast<const char*>(&png[at + 4]), 4);
    EXPECT_EQ(Crc32(&png[at + 4], length + 4), BigEndian32(png, at + 8 + length)) << chunks.back();
    if (chunks.size() == 1) {
      EXPECT_EQ(length, 13u);
      EXPECT_EQ(BigEndian32(png, at + 8), 48u);   // width
      EXPECT_EQ(BigEndian32(png, at + 12), 48u);  // height
      EXPECT_EQ(png[at + 16], 8);                 // bits per channel
      EXPECT_EQ(png[at + 17], 6);                 // RGBA
      EXPECT_EQ(png[at + 20], 0);                 // not interlaced
    }
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size());
  EXPECT_EQ(chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST(StoredLogos, CommittedRecordsAndIconsAreWhatTheGeneratorMakes) {
  const std::filesystem::path out = std::filesystem::temp_directory_path() /
                                    ("make_logos_" + std::to_string(std::random_device{}()));
  const std::string command =
      "python3 \"" TOOLS_DIR "/make_logos.py\" --out \"" + out.string() + "\"";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  for (const std::string target : {"listen_tuner", "download_tuner"}) {
    for (const std::string& file : {std::string("logo_record.cpp"), target + ".ico"}) {
      const auto relative = std::filesystem::path("targets") / target / file;
      // Not EXPECT_EQ: a stale file is reported by name, not printed.
      const bool same = FileText(out / relative) == FileText(SOURCE_DIR / relative);
      EXPECT_TRUE(same) << relative << " is stale: run tools/make_logos.py";
    }
  }
  std::filesystem::remove_all(out);
}

TEST(LogoRecord, ReadsNoMoreLinesThanTheRecordHolds) {
  const char* const items[] = {"5", "0", "3", "0", "Base64", "Zm9", "vYmFy"};
  const LogoText logo = ReadLogoRecord(LogoRecord{items});
  EXPECT_EQ(logo.lineCount, 5);
  EXPECT_EQ(logo.text, "Zm9vYmFy");
}

TEST(LogoRecord, JoinsOnlyTheAnnouncedLines) {
  const char* const items[] = {"1", "0", "3", "0", "Base64", "Zm9v", "YmFy"};
  EXPECT_EQ(ReadLogoRecord(LogoRecord{items}).text, "Zm9v");
}

TEST(LogoRecord, ANegativeOrMissingCountJoinsNothing) {
  const char* const negative[] = {"-3", "0", "3", "0", "Base64", "Zm9v"};
  EXPECT_EQ(ReadLogoRecord(LogoRecord{negative}).text, "");
  const LogoText empty = ReadLogoRecord(LogoRecord{});
  EXPECT_EQ(empty.lineCount, 0);
  EXPECT_EQ(empty.text, "");
  EXPECT_EQ(DecodeLogo(empty, LogoKind::StillBase64).data, nullptr);
}

TEST(LogoRecord, AnOverstatedLengthIsCutToWhatWasDecoded) {
  const char* const items[] = {"1", "0", "99999", "0", "Base64", "Zm9vYmFy"};
  const LogoBytes bytes = DecodeLogo(ReadLogoRecord(LogoRecord{items}), LogoKind::StillBase64);
  EXPECT_EQ(bytes.size, 6u);
  const char* const shorter[] = {"1", "0", "4", "0", "Base64", "Zm9vYmFy"};
  EXPECT_EQ(DecodeLogo(ReadLogoRecord(LogoRecord{shorter}), LogoKind::StillBase64).size, 4u);
}

TEST(LogoRecord, TheProgramsDecoderIsChosenByItsLogoKind) {
  const char* const items[] = {"1", "0", "1", "0", "whatever", "#!"};
  const LogoText logo = ReadLogoRecord(LogoRecord{items});
  const LogoBytes base128 = DecodeLogo(logo, LogoKind::AnimatedBase128);
  ASSERT_EQ(base128.size, 1u);
  EXPECT_EQ(base128.data[0], 1);
  EXPECT_EQ(DecodeLogo(logo, LogoKind::StillBase64).size, 0u);  // "#" and "!" are not Base64
}
