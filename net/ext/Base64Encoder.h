#pragma once
// Base64 text for mail attachments: lines of at most 76 characters, each ended by CR LF.

#include <cstdint>

namespace velt {

// The standard alphabet.
extern const char kBase64Alphabet[65];

// Room EncodeBase64 needs for length bytes: four characters per three bytes rounded up, CR LF after
// every 76 of them and at the end, and the terminating NUL.
uint64_t Base64BufferBytes(uint32_t length);

// Encodes length bytes of input (read only) with the 64 characters of alphabet into output, which
// must hold Base64BufferBytes(length) bytes. CR LF follows every 76 characters (padding not
// counted) and always the last group, so a text whose last line is 76 characters long ends in two
// CR LF pairs. Returns the number of characters written; a NUL follows them.
uint32_t EncodeBase64(const uint8_t* input, uint32_t length, char* output,
                      const char* alphabet = kBase64Alphabet);

}  // namespace velt
