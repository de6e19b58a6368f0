#pragma once

// Text helpers shared by the server, its scripting layer and the bot program. They are plain
// functions with no logging or console dependency so that every program can link them.
//
// Conventions that hold for every function here:
// - Case handling is ASCII only; bytes >= 0x80 are never changed and never treated as letters.
// - Read-only functions take std::string_view, so the caller states the length and nothing past
//   it is read (an unterminated network buffer is safe as long as the view is sized correctly).
// - In-place functions take the buffer and its capacity. The text ends at the first NUL or at the
//   end of the buffer, whichever comes first; nothing beyond that is read or written. When the
//   text shrinks, a NUL is written after the new end (always inside the buffer).
// - Functions that produce text into a caller's buffer never write more than outSize bytes, always
//   terminate it when outSize > 0, and return the text length; 0 means an empty text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velt {

// 'a'..'z' become 'A'..'Z'; every other value is returned unchanged.
char ToUpperAscii(char ch);

void StringToUpper(char* text, std::size_t size);
void StringToUpper(std::string& text);

// Pointer to the first case-insensitive occurrence of needle inside text, or nullptr.
// An empty needle never matches.
const char* FindNoCase(std::string_view text, std::string_view needle);

// Compares at most n characters after upper-casing; the end of a view reads as a terminator.
// Returns the difference of the first unequal pair (as signed characters) or 0, and stops after
// the terminator of a.
int CompareNoCaseUpperN(std::string_view a, std::string_view b, std::size_t n);

// Whole-text match, case-sensitive: '*' matches any run (also none), '?' exactly one character.
// Runs in O(pattern * text) time whatever the pattern, so hostile patterns cannot stall a caller.
bool WildcardMatch(std::string_view pattern, std::string_view text);

void ReverseString(char* text, std::size_t size);

// Room for the longest result of IntToString/UIntToString: sign, 32 binary digits and the NUL.
inline constexpr std::size_t kIntTextSize = 34;

// Radix 0 means 10; 2..35 are accepted, any other radix gives an empty text. Digits are '0'-'9'
// then 'A'-'Z'; a negative value gets a leading '-'. When the result does not fit in outSize the
// output is an empty text rather than a truncated (and therefore wrong) number.
std::size_t IntToString(std::int32_t value, char* out, std::size_t outSize, int radix);
std::size_t UIntToString(std::uint32_t value, char* out, std::size_t outSize, int radix);

// Buffer size (NUL included) needed to Base64-encode `length` bytes.
inline constexpr std::size_t Base64EncodedSize(std::size_t length) { return (length + 2) / 3 * 4 + 1; }

// Standard alphabet with '=' padding. When the result does not fit in outSize the output is an
// empty text and 0 is returned.
std::size_t Base64Encode(std::string_view data, char* out, std::size_t outSize);

// True when the name holds a character outside 0-9 A-Z a-z and $ ( ) . = @ [ ] _.
// An empty name is not invalid by this rule (length limits are the caller's business).
bool HasInvalidNameChar(std::string_view name);

bool IsHexDigit(char ch);

// Value (0..0xFFFFFF) of a "{RRGGBB}" embed at the very start of text, else -1.
std::int32_t ParseColourEmbed(std::string_view text);

// Removes every colour embed, including those formed by joining what is left after a removal
// (so "{12{ABCDEF}3456}" vanishes entirely). Returns the new length.
std::size_t StripColourEmbeds(char* text, std::size_t size);

// Strips colour embeds, then turns every '%' into '#' and every '~' directly followed by 'k'
// into '#' (the 'k' stays). Returns the new length.
std::size_t SanitiseChatText(char* text, std::size_t size);

// '+' becomes a blank, '%' with two hexadecimal digits becomes that byte. Returns the decoded
// length; note that "%00" decodes to a NUL byte inside the result.
std::size_t UrlDecode(char* text, std::size_t size);

}  // namespace velt
