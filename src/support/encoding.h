// Conversions between the program's code-page-936 text, UTF-8 and UTF-16.
//
// All are pure functions. Malformed input is replaced, never refused: undecodable bytes become
// U+FFFD and characters the target code page lacks become its default character ("?" for 936).
// Nothing reads past the first zero byte of a `Text`.
#pragma once

#include <string>
#include <string_view>

#include "support/text_types.h"

namespace mf {

// Percent-encodes every byte as "%" and two upper-case hex digits. With `keepSafe`, ASCII letters,
// digits, "-" and "." stay as they are. With `toUtf8`, the text is first converted to UTF-8.
Text UrlEncode(const Text& text, bool keepSafe = false, bool toUtf8 = false);

Text GbkToUtf8(const Text& text);
// `text` carries UTF-8 bytes; the result is code page 936.
Text Utf8ToGbk(const Text& text);

// The UTF-16LE units of `text` decoded from `codePage`, followed by one zero unit; the empty text
// gives empty `Bytes`.
Bytes DecodeToUtf16(const Text& text, int codePage = 65001);
// Encodes the zero-terminated UTF-16LE string at the start of `units` (or all of it, when it has
// no zero unit) into `codePage`; 0 is the system code page, 936.
Text EncodeFromUtf16(const Bytes& units, int codePage = 0);

// UTF-8, as every site but the built-in one keeps its text, and UTF-16. Bytes that are not UTF-8
// become U+FFFD.
std::u16string Utf8ToUtf16(const Text& text);
Text Utf16ToUtf8(std::u16string_view units);
// `text` unchanged when it is well-formed UTF-8; else with every byte that is not part of a
// character as U+FFFD.
Text WellFormedUtf8(const Text& text);
// `text` with every byte from 0x80 up written as "%" and two upper-case hex digits, the rest as
// it is: an address or magnet link read from a UTF-8 page, made ASCII so that it means the same
// bytes whichever code page reads it.
Text PercentEncodedNonAscii(const Text& text);

// The system-code-page conversions that automation strings and variants go through.
std::u16string AnsiToUtf16(const Text& text);
Text Utf16ToAnsi(std::u16string_view units);

}  // namespace mf
