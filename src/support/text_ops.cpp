#include "support/text_ops.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

namespace mf {
namespace {

using View = std::string_view;
constexpr std::size_t kNone = View::npos;
constexpr unsigned char kFullWidthSpaceByte = 0xA1;

unsigned char At(View text, std::size_t index) {
  return static_cast<unsigned char>(text[index]);
}

bool IsHighByte(unsigned char byte) {
  return byte >= 0x80;
}

std::int32_t Length32(std::size_t size) {
  return static_cast<std::int32_t>(size);
}

unsigned char FoldCase(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

bool EqualIgnoringCase(const char* left, const char* right, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (FoldCase(static_cast<unsigned char>(left[i])) !=
        FoldCase(static_cast<unsigned char>(right[i]))) {
      return false;
    }
  }
  return true;
}

// The first place at or after `from` where `needle` (not empty) stands, at any byte.
std::size_t FindBytes(View text, View needle, std::size_t from, bool ignoreCase) {
  if (from > text.size() || text.size() - from < needle.size()) {
    return kNone;
  }
  if (!ignoreCase) {
    const void* hit = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
    return hit == nullptr ? kNone
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
  }
  const unsigned char first = FoldCase(At(needle, 0));
  const std::size_t last = text.size() - needle.size();
  for (std::size_t i = from; i <= last; ++i) {
    if (FoldCase(At(text, i)) == first &&
        EqualIgnoringCase(text.data() + i + 1, needle.data() + 1, needle.size() - 1)) {
      return i;
    }
  }
  return kNone;
}

// Whether a scan that started on the character boundary `boundary` steps onto `pos`. A byte
// below 0x80 always ends a character (it is ASCII or a trail byte), so only the run of high bytes
// just before `pos` matters: inside it characters are two bytes long.
bool IsBoundary(View text, std::size_t boundary, std::size_t pos) {
  std::size_t runStart = pos;
  while (runStart > boundary && IsHighByte(At(text, runStart - 1))) {
    --runStart;
  }
  return (pos - runStart) % 2 == 0;
}

// The first match of `needle` (not empty) that begins on a character boundary, stepping by
// characters from the boundary `from`. Searching bytes first and checking the boundary after
// keeps the scan at memmem speed.
std::size_t FindOnBoundary(View text, View needle, std::size_t from, bool ignoreCase) {
  std::size_t boundary = from;
  for (std::size_t pos = FindBytes(text, needle, from, ignoreCase); pos != kNone;
       pos = FindBytes(text, needle, pos + 1, ignoreCase)) {
    if (IsBoundary(text, boundary, pos)) {
      return pos;
    }
    // `pos` is the second byte of a character, so the next character starts right after it.
    boundary = pos + 1;
  }
  return kNone;
}

// Whether a character scan from the boundary `from` that never matches reaches a last byte that
// is a lead byte without its partner.
bool EndsInLoneLeadByte(View text, std::size_t from) {
  const std::size_t last = text.size() - 1;
  return text.size() > from && IsHighByte(At(text, last)) && IsBoundary(text, from, last);
}

std::size_t StartIndex(std::int32_t start) {
  return start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
}

// The unsigned limit of an optional count where left out or negative means no limit.
std::size_t Limit(std::optional<std::int32_t> count) {
  return (!count || *count < 0) ? std::numeric_limits<std::size_t>::max()
                                : static_cast<std::size_t>(*count);
}

bool IsFullWidthSpace(View text, std::size_t i) {
  return At(text, i) == kFullWidthSpaceByte && i + 1 < text.size() &&
         At(text, i + 1) == kFullWidthSpaceByte;
}

// The ASCII form of the character at `i` (full-width forms folded), stepping `i` past it. Other
// double-byte characters give 0x80, which no caller takes for a digit, sign or space.
unsigned char NextAsciiForm(View text, std::size_t& i) {
  const unsigned char lead = At(text, i++);
  if (!IsHighByte(lead) || i == text.size()) {
    return lead;
  }
  const unsigned char trail = At(text, i++);
  if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) {
    return static_cast<unsigned char>(trail - 0x80);
  }
  if (lead == 0xA1) {
    switch (trail) {
      case 0xA1:
        return ' ';
      case 0xAB:
        return '~';
      case 0xEE:
      case 0xEF:
        return '*';
    }
  }
  return 0x80;
}

bool IsWhiteSpace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

template <typename Number>
Text FormatNumber(Number value, int base = 10) {
  char digits[16];
  const auto result = std::to_chars(digits, digits + sizeof digits, value, base);
  return Text(View(digits, result.ptr - digits));
}

}  // namespace

std::int32_t TextLength(const Text& text) {
  return Length32(text.size());
}

Text LeftText(const Text& text, std::int32_t n) {
  return n <= 0 ? Text() : Text(text.view().substr(0, static_cast<std::size_t>(n)));
}

Text RightText(const Text& text, std::int32_t n) {
  if (n <= 0) {
    return Text();
  }
  const std::size_t keep = std::min(text.size(), static_cast<std::size_t>(n));
  return Text(text.view().substr(text.size() - keep));
}

Text MidText(const Text& text, std::int32_t start, std::int32_t n) {
  if (start < 1 || start > TextLength(text) || n <= 0) {
    return Text();
  }
  return Text(text.view().substr(StartIndex(start), static_cast<std::size_t>(n)));
}

std::int32_t FindText(const Text& text, const Text& needle, std::int32_t start, bool ignoreCase) {
  const std::size_t from = StartIndex(start);
  if (from >= text.size()) {
    return -1;
  }
  if (needle.empty()) {
    return 1;
  }
  const std::size_t pos = FindOnBoundary(text.view(), needle.view(), from, ignoreCase);
  return pos == kNone ? -1 : Length32(pos + 1);
}

Text ReplaceSubtext(const Text& text, const Text& old, const Text& replacement, std::int32_t start,
                    std::optional<std::int32_t> count, bool caseSensitive) {
  const View source = text.view();
  const std::size_t from = StartIndex(start);
  const std::size_t limit = Limit(count);
  if (source.empty() || old.empty() || from >= source.size() || limit == 0) {
    return text;
  }
  std::string result(source.substr(0, from));
  std::size_t i = from;
  std::size_t done = 0;
  for (; done < limit; ++done) {
    const std::size_t pos = FindOnBoundary(source, old.view(), i, !caseSensitive);
    if (pos == kNone) {
      break;
    }
    result.append(source.substr(i, pos - i)).append(replacement.view());
    i = pos + old.size();
  }
  // A one-byte `old` is the only one that the scan compares against a trailing lone lead byte;
  // having stepped onto it without a match, the scan leaves it out.
  const bool dropLast = done < limit && old.size() == 1 && EndsInLoneLeadByte(source, i);
  result.append(source.substr(i, source.size() - i - (dropLast ? 1 : 0)));
  return Text(result);
}

std::vector<Text> SplitText(const Text& text, const Text& separator,
                            std::optional<std::int32_t> maximum) {
  const std::size_t limit = maximum ? static_cast<std::size_t>(std::max(*maximum, 0)) : kNone;
  if (text.empty() || limit == 0) {
    return {};
  }
  if (separator.empty()) {
    return {text};
  }
  const View source = text.view();
  std::vector<Text> pieces;
  std::size_t i = 0;
  while (pieces.size() < limit) {
    const std::size_t pos = FindOnBoundary(source, separator.view(), i, false);
    if (pos == kNone) {
      break;
    }
    pieces.emplace_back(source.substr(i, pos - i));
    i = pos + separator.size();
  }
  if (i < source.size() && pieces.size() < limit) {
    pieces.emplace_back(source.substr(i));
  }
  return pieces;
}

Text TrimSpaces(const Text& text) {
  const View source = text.view();
  std::size_t i = 0;
  while (i < source.size() && (At(source, i) == ' ' || IsFullWidthSpace(source, i))) {
    i += At(source, i) == ' ' ? 1 : 2;
  }
  const std::size_t begin = i;
  std::size_t end = i;  // behind the last character that is not a space
  while (i < source.size()) {
    if (At(source, i) == ' ') {
      ++i;
    } else if (IsFullWidthSpace(source, i)) {
      i += 2;
    } else if (IsHighByte(At(source, i)) && i + 1 == source.size()) {
      end = i++;  // a character cut in half: dropped, but it still ends any run of spaces
    } else {
      i += IsHighByte(At(source, i)) ? 2 : 1;
      end = i;
    }
  }
  return Text(source.substr(begin, end - begin));
}

Text SpaceText(std::int32_t n) {
  return n <= 0 ? Text() : Text(std::string(static_cast<std::size_t>(n), ' '));
}

Text CharFromCode(std::uint8_t code) {
  const char byte = static_cast<char>(code);
  return Text(View(&byte, 1));
}

std::int32_t CharCodeAt(const Text& text, std::int32_t position) {
  if (position < 1 || position > TextLength(text)) {
    return 0;
  }
  return static_cast<std::int8_t>(text.byte(StartIndex(position)));
}

Text ToHexText(std::int32_t value) {
  std::string digits(FormatNumber(static_cast<std::uint32_t>(value), 16).str());
  for (char& digit : digits) {
    if (digit >= 'a' && digit <= 'f') {
      digit = static_cast<char>(digit - ('a' - 'A'));
    }
  }
  return Text(digits);
}

std::int32_t ToInteger(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

std::int32_t ToInteger(const Text& value) {
  const View source = value.view();
  std::size_t i = 0;
  unsigned char c = 0;
  do {
    if (i == source.size()) {
      return 0;
    }
    c = NextAsciiForm(source, i);
  } while (IsWhiteSpace(c));
  const bool negative = c == '-';
  if ((c == '-' || c == '+') && i < source.size()) {
    c = NextAsciiForm(source, i);
  }
  std::uint32_t accumulated = 0;  // unsigned: wraps around modulo 2^32 by definition
  while (c >= '0' && c <= '9') {
    accumulated = accumulated * 10 + (c - '0');
    if (i == source.size()) {
      break;
    }
    c = NextAsciiForm(source, i);
  }
  return static_cast<std::int32_t>(negative ? 0u - accumulated : accumulated);
}

Text ToText(std::int32_t value) {
  return FormatNumber(value);
}

Text ToText(std::uint8_t value) {
  return FormatNumber(static_cast<unsigned>(value));
}

Bytes ToBytes(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  const char bytes[4] = {static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
                         static_cast<char>((bits >> 16) & 0xFF),
                         static_cast<char>((bits >> 24) & 0xFF)};
  return Bytes(bytes, sizeof bytes);
}

std::int32_t BytesLength(const Bytes& bytes) {
  return Length32(bytes.size());
}

Bytes ZeroBytes(std::int32_t n) {
  return n <= 0 ? Bytes() : Bytes(std::string(static_cast<std::size_t>(n), '\0'));
}

double Remainder(double a, double b) {
  if (b == 0) {
    std::fputs("不能求余数于零\n", stderr);
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
  }
  return std::fmod(a, b);
}

std::int32_t ShiftLeft(std::int32_t value, std::int32_t count) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << (count & 31));
}

std::int32_t ShiftRight(std::int32_t value, std::int32_t count) {
  return value >> (count & 31);
}

}  // namespace mf
