// The text and value operations that all program logic is written in.
//
// Conventions shared by every operation here:
// - Positions are 1-based byte positions; lengths count bytes (a Chinese character is two).
// - Nothing fails: an out-of-range position, length or count gives the empty text, 0, -1 (for a
//   position not found) or the text unchanged.
// - `FindText`, `ReplaceSubtext` and `SplitText` step through the text by characters: a byte of
//   0x80 or above takes the next byte with it, so a match never begins on the second byte of a
//   double-byte character. All other text operations count plain bytes and may cut a character.
// - Comparing "ignoring case" folds only the ASCII letters; every other byte must match exactly.
//
// All operations are pure and may run on any thread at the same time.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <vector>

#include "support/text_types.h"

namespace mf {

// ---- Text operations ----

std::int32_t TextLength(const Text& text);
// The first `n` bytes (all of them when `n` is beyond the length; empty for `n` <= 0).
Text LeftText(const Text& text, std::int32_t n);
// The last `n` bytes (all of them when `n` is beyond the length; empty for `n` <= 0).
Text RightText(const Text& text, std::int32_t n);
// The `n` bytes from `start`, cut at the end of the text; empty when `start` lies outside it.
Text MidText(const Text& text, std::int32_t start, std::int32_t n);

// Position of the first occurrence of `needle` at or after `start` (below 1 means 1), or -1.
// An empty needle is found at 1 (whatever `start` is) when any text remains from `start` on.
std::int32_t FindText(const Text& text, const Text& needle, std::int32_t start = 1,
                      bool ignoreCase = false);

// Replaces occurrences of `old` by `replacement`, left to right and without overlap, from `start`
// on. `count` limits the number of replacements: left out or negative means all, 0 means none.
// Unlike `FindText`, the comparison ignores case unless `caseSensitive` is true.
Text ReplaceSubtext(const Text& text, const Text& old, const Text& replacement = Text(),
                    std::int32_t start = 1, std::optional<std::int32_t> count = std::nullopt,
                    bool caseSensitive = false);

// Cuts `text` at every `separator`. Pieces between two separators are kept even when empty; the
// piece after the last separator only when it is not empty. `maximum` (left out: no limit;
// negative: 0) caps the number of pieces. The empty text gives no pieces; an empty separator gives
// the whole text as the one piece.
std::vector<Text> SplitText(const Text& text, const Text& separator = Text(","),
                            std::optional<std::int32_t> maximum = std::nullopt);

// Removes leading and trailing spaces: the byte 0x20 and the full-width space A1 A1 (tabs and line
// breaks are not spaces). A lone lead byte left at the very end is dropped as well.
Text TrimSpaces(const Text& text);

Text SpaceText(std::int32_t n);
// A one-byte text; code 0 gives the empty text.
Text CharFromCode(std::uint8_t code);
// The byte at `position` as a signed value (-128..127); 0 outside the text.
std::int32_t CharCodeAt(const Text& text, std::int32_t position = 1);
// Upper-case hexadecimal without prefix or leading zeros; negatives in two's complement.
Text ToHexText(std::int32_t value);

// ---- Conversions ----

inline std::int32_t ToInteger(std::int32_t value) {
  return value;
}
inline std::int32_t ToInteger(std::uint8_t value) {
  return value;
}
inline std::int32_t ToInteger(bool value) {
  return value ? 1 : 0;
}
// Truncates toward zero. A value without a 32-bit counterpart (NaN, infinite, out of range) gives
// -2147483648, as the processor's own conversion does.
std::int32_t ToInteger(double value);
// Reads optional white space, an optional sign and decimal digits; full-width digits, signs and
// spaces count as their ASCII forms. Wraps around modulo 2^32; no digits gives 0.
std::int32_t ToInteger(const Text& value);

// The low 8 bits of `ToInteger(value)`.
template <typename T>
requires requires(const T& value) {
  ToInteger(value);
}
std::uint8_t ToByte(const T& value) {
  return static_cast<std::uint8_t>(ToInteger(value));
}

Text ToText(std::int32_t value);
Text ToText(std::uint8_t value);
inline Text ToText(const Text& value) {
  return value;
}
// The bytes up to the first zero byte.
inline Text ToText(const Bytes& value) {
  return Text(value.view());
}

inline Bytes ToBytes(const Text& value) {
  return Bytes(value.view());
}
inline Bytes ToBytes(const Bytes& value) {
  return value;
}
// The four bytes of `value`, least significant first.
Bytes ToBytes(std::int32_t value);

std::int32_t BytesLength(const Bytes& bytes);
Bytes ZeroBytes(std::int32_t n);

// ---- Arithmetic and bits ----

// The remainder of a / b with the sign of a. A zero divisor is fatal: the process reports it on
// standard error and ends with a failure status.
double Remainder(double a, double b);
// Shift by `count` modulo 32; `ShiftRight` copies the sign bit in.
std::int32_t ShiftLeft(std::int32_t value, std::int32_t count);
std::int32_t ShiftRight(std::int32_t value, std::int32_t count);

template <std::convertible_to<std::int32_t>... Rest>
std::int32_t BitAnd(std::int32_t first, std::int32_t second, Rest... rest) {
  return ((first & second) & ... & static_cast<std::int32_t>(rest));
}

}  // namespace mf
