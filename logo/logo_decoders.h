#pragma once
// The two text encodings the programs keep their logo in. Both write into one
// process-wide output buffer and return a pointer to it, valid until the next decoding
// call; callers never free it. Empty text gives nullptr and leaves length untouched.
// Main thread only (the logo is decoded once, at start-up).
#include <cstdint>
#include <string_view>

// "Base128": 7 bits per symbol, 8 symbols to 7 bytes, least significant first. A symbol
// outside the alphabet carries nothing and is skipped.
const std::uint8_t* DecodeBase128(std::string_view text, std::int32_t& length);

// Standard Base64 (RFC 4648) with "=" padding, quartet by quartet.
const std::uint8_t* DecodeBase64(std::string_view text, std::int32_t& length);
