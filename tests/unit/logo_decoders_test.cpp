#include "logo/logo_decoders.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string kBase128Alphabet = [] {
  std::string alphabet =
      "!#$%()*,.0123456789:;=@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_abcdefghijklmnopqrstuvwxyz{|}~";
  for (int byte = 0xA1; byte <= 0xCE; ++byte) {
    if (byte != 0xAD) alphabet += static_cast<char>(byte);
  }
  return alphabet;
}();

// The asset maker's side: every 7 bytes become 8 symbols, least significant first, and
// a final k bytes become k + 1 symbols.
std::string EncodeBase128(const Bytes& data) {
  std::string text;
  for (std::size_t start = 0; start < data.size(); start += 7) {
    const std::size_t count = std::min<std::size_t>(7, data.size() - start);
    std::uint64_t number = 0;
    for (std::size_t i = 0; i < count; ++i) number |= std::uint64_t{data[start + i]} << (8 * i);
    for (std::size_t i = 0; i <= count; ++i) {
      text += kBase128Alphabet[number & 0x7F];
      number >>= 7;
    }
  }
  return text;
}

Bytes Decoded128(const std::string& text) {
  std::int32_t length = -1;
  const std::uint8_t* data = DecodeBase128(text, length);
  if (data == nullptr) return {};
  return Bytes(data, data + length);
}

Bytes Decoded64(const std::string& text) {
  std::int32_t length = -1;
  const std::uint8_t* data = DecodeBase64(text, length);
  if (data == nullptr) return {};
  return Bytes(data, data + length);
}

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

TEST(DecodeBase128, FullGroupsGiveSevenBytesAndAFinalGroupOneLessThanItsSymbols) {
  EXPECT_EQ(Decoded128(std::string(8, '!')).size(), 7u);
  EXPECT_EQ(Decoded128(std::string(9, '!')).size(), 7u);  // a lone final symbol adds nothing
  EXPECT_EQ(Decoded128(std::string(10, '!')).size(), 8u);
  EXPECT_EQ(Decoded128(std::string(16, '!')).size(), 14u);
  EXPECT_EQ(Decoded128("#").size(), 0u);
}

TEST(DecodeBase128, SymbolsAreReadLeastSignificantFirst) {
  EXPECT_EQ(Decoded128("#!"), Bytes{1});                         // values 1, 0
  EXPECT_EQ(Decoded128("!#"), Bytes{128});                       // values 0, 1
  EXPECT_EQ(Decoded128(std::string(8, '\xCE')), Bytes(7, 255));  // eight symbols of value 127
  EXPECT_EQ(Decoded128("\xCE!"), Bytes{127});
}

TEST(DecodeBase128, TheHighSymbolsSkipTheSoftHyphen) {
  // 0xAC is value 94 and 0xAE value 95: as second symbols they set bit 7 and the bits above.
  EXPECT_EQ(Decoded128("!\xAC"), Bytes{0});         // 94 << 7 keeps only its lowest bit: 0
  EXPECT_EQ(Decoded128("!\xAE"), Bytes{128});       // 95 is odd
  EXPECT_EQ(Decoded128("~\xA1"), Bytes{82 | 128});  // values 82 and 83 meet across the gap
}

TEST(DecodeBase128, UndoesTheAssetEncodingForEveryLength) {
  std::mt19937 random(128);
  for (std::size_t size = 0; size < 60; ++size) {
    Bytes data(size);
    for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
    SCOPED_TRACE(size);
    const std::string text = EncodeBase128(data);
    EXPECT_EQ(text.size(), size / 7 * 8 + (size % 7 ? size % 7 + 1 : 0));
    EXPECT_EQ(Decoded128(text), data);
  }
}

TEST(DecodeBase128, CharactersOutsideTheAlphabetAreSkipped) {
  EXPECT_EQ(Decoded128("#\r\n!"), Bytes{1});
  EXPECT_EQ(Decoded128("\xAD#\"!"), Bytes{1});
  std::int32_t length = 99;
  EXPECT_NE(DecodeBase128("\"\"\"", length), nullptr);
  EXPECT_EQ(length, 0);
}

TEST(DecodeBase64, PaddingDecidesHowManyBytesTheLastQuartetGives) {
  EXPECT_EQ(Decoded64("TQ=="), BytesOf("M"));
  EXPECT_EQ(Decoded64("TWE="), BytesOf("Ma"));
  EXPECT_EQ(Decoded64("TWFu"), BytesOf("Man"));
  EXPECT_EQ(Decoded64("Zm9vYmFy"), BytesOf("foobar"));
  EXPECT_EQ(Decoded64("Zm9vYmE="), BytesOf("fooba"));
  EXPECT_EQ(Decoded64("Zm9vYg=="), BytesOf("foob"));
}

TEST(DecodeBase64, AMissingTailCountsAsPadding) {
  EXPECT_EQ(Decoded64("Zm9vYg"), BytesOf("foob"));
  EXPECT_EQ(Decoded64("Zm9vYmE"), BytesOf("fooba"));
  EXPECT_EQ(Decoded64("Zm9vY"), BytesOf("foo"));  // one lone character gives nothing
}

TEST(DecodeBase64, EveryByteValueSurvives) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes data(256);
  for (int i = 0; i < 256; ++i) data[i] = static_cast<std::uint8_t>(i);
  std::string text;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    const std::uint32_t chunk = data[i] << 16 | (i + 1 < data.size() ? data[i + 1] << 8 : 0) |
                                (i + 2 < data.size() ? data[i + 2] : 0);
    text += alphabet[chunk >> 18 & 63];
    text += alphabet[chunk >> 12 & 63];
    text += i + 1 < data.size() ? alphabet[chunk >> 6 & 63] : '=';
    text += i + 2 < data.size() ? alphabet[chunk & 63] : '=';
  }
  EXPECT_EQ(Decoded64(text), data);
}

TEST(LogoDecoders, EmptyTextGivesNoBufferAndLeavesTheLengthAlone) {
  std::int32_t length = 12345;
  EXPECT_EQ(DecodeBase128("", length), nullptr);
  EXPECT_EQ(DecodeBase64("", length), nullptr);
  EXPECT_EQ(length, 12345);
}
