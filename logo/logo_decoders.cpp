#include "logo/logo_decoders.h"

#include <array>
#include <vector>

namespace {

constexpr std::string_view kBase128Ascii =
    "!#$%()*,.0123456789:;=@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_abcdefghijklmnopqrstuvwxyz{|}~";
// Values 83 to 127 are the Latin-1 bytes 0xA1 to 0xCE, leaving out the soft hyphen 0xAD.
constexpr unsigned kBase128HighFirst = 0xA1;
constexpr unsigned kBase128HighLast = 0xCE;
constexpr unsigned kSoftHyphen = 0xAD;

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

using SymbolTable = std::array<int, 256>;

constexpr SymbolTable MakeBase128Table() {
  SymbolTable table{};
  table.fill(-1);
  int value = 0;
  for (char c : kBase128Ascii) table[static_cast<unsigned char>(c)] = value++;
  for (unsigned byte = kBase128HighFirst; byte <= kBase128HighLast; ++byte) {
    if (byte != kSoftHyphen) table[byte] = value++;
  }
  return table;
}

constexpr SymbolTable MakeBase64Table() {
  SymbolTable table{};
  table.fill(-1);
  int value = 0;
  for (char c : kBase64Alphabet) table[static_cast<unsigned char>(c)] = value++;
  return table;
}

constexpr SymbolTable kBase128 = MakeBase128Table();
constexpr SymbolTable kBase64 = MakeBase64Table();
static_assert(kBase128[kBase128HighLast] == 127, "the Base128 alphabet has 128 symbols");

std::vector<std::uint8_t>& OutputBuffer() {
  static std::vector<std::uint8_t> buffer;
  return buffer;
}

// Hands the filled buffer out; never null, even when nothing was decoded.
const std::uint8_t* Finish(std::vector<std::uint8_t>& out, std::int32_t& length) {
  length = static_cast<std::int32_t>(out.size());
  if (out.capacity() == 0) out.reserve(1);
  return out.data();
}

}  // namespace

const std::uint8_t* DecodeBase128(std::string_view text, std::int32_t& length) {
  if (text.empty()) return nullptr;
  std::vector<std::uint8_t>& out = OutputBuffer();
  out.clear();
  out.reserve(text.size() * 7 / 8 + 1);
  // Bit accumulator: a group's first symbol only fills the carry; each later one
  // completes a byte with its low bits and carries its high bits on.
  unsigned position = 8;
  unsigned carry = 0;
  for (char c : text) {
    const int value = kBase128[static_cast<unsigned char>(c)];
    if (value < 0) continue;
    const unsigned symbol = static_cast<unsigned>(value);
    if (position > 7) {
      carry = symbol;
      position = 1;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(((symbol << (8 - position)) & 0xFF) | carry));
    carry = symbol >> position;
    ++position;
  }
  return Finish(out, length);
}

const std::uint8_t* DecodeBase64(std::string_view text, std::int32_t& length) {
  if (text.empty()) return nullptr;
  std::vector<std::uint8_t>& out = OutputBuffer();
  out.clear();
  out.reserve(text.size() / 4 * 3 + 3);
  auto valueAt = [&](std::size_t i) {
    return i < text.size() ? kBase64[static_cast<unsigned char>(text[i])] : -1;
  };
  for (std::size_t start = 0; start < text.size(); start += 4) {
    const int e1 = valueAt(start);
    const int e2 = valueAt(start + 1);
    const int e3 = valueAt(start + 2);
    const int e4 = valueAt(start + 3);
    if (e2 >= 0) out.push_back(static_cast<std::uint8_t>((e1 * 4 + (e2 >> 4)) & 0xFF));
    if (e3 >= 0) out.push_back(static_cast<std::uint8_t>((e2 * 16 + (e3 >> 2)) & 0xFF));
    if (e4 >= 0) out.push_back(static_cast<std::uint8_t>((e3 * 64 + e4) & 0xFF));
  }
  return Finish(out, length);
}
