#include "support/encoding.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/codepage.h"

namespace mf {
namespace {

// Code pages 936 and 65001 both keep ASCII as it is, and most texts that cross the automation
// boundary (member names, links, numbers) are ASCII: those skip the converter.
template <typename Unit>
bool IsAscii(std::basic_string_view<Unit> units) {
  Unit any = 0;
  for (const Unit unit : units) {
    any |= unit;
  }
  return (static_cast<std::uint32_t>(any) & ~0x7Fu) == 0;
}

// Code page 936 converts by table (platform/codepage.h), as fast as this check for ASCII text,
// so only UTF-8 takes the shortcut.
bool KeepsAscii(unsigned codePage) {
  return codePage == platform::CP_UTF8;
}

std::u16string Decode(const Text& text, unsigned codePage) {
  if (KeepsAscii(codePage) && IsAscii(text.view())) {
    return std::u16string(text.view().begin(), text.view().end());
  }
  if (text.empty()) {
    return {};
  }
  // No code page makes more than one UTF-16 unit of a byte, so the text's length (and its
  // terminator) bounds the result and one pass of the converter suffices.
  std::u16string units(text.size() + 1, u'\0');
  int written =
      platform::MultiByteToWideChar(codePage, 0, text.c_str(), static_cast<int>(text.size()),
                                    units.data(), static_cast<int>(units.size()));
  if (written > 0) {
    units.resize(static_cast<std::size_t>(written));
    return units;
  }
  written = platform::MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
  if (written <= 0) {
    return {};
  }
  units.assign(static_cast<std::size_t>(written), u'\0');
  platform::MultiByteToWideChar(codePage, 0, text.c_str(), -1, units.data(), written);
  units.resize(static_cast<std::size_t>(written - 1));  // drop the terminator
  return units;
}

Text Encode(std::u16string_view units, unsigned codePage) {
  units = units.substr(0, units.find(u'\0'));
  if (KeepsAscii(codePage) && IsAscii(units)) {
    return Text(std::string(units.begin(), units.end()));
  }
  if (units.empty()) {
    return Text();
  }
  // At most three bytes for one unit (UTF-8; two for code page 936): one pass suffices. Short
  // texts (a link, a title) are converted on the stack and copied once into the result.
  constexpr std::size_t kStackBytes = 1024;
  char stackBytes[kStackBytes];
  std::string heapBytes;
  const std::size_t capacity = units.size() * 3;
  char* bytes = stackBytes;
  if (capacity > kStackBytes) {
    heapBytes.resize(capacity);
    bytes = heapBytes.data();
  }
  const int written =
      platform::WideCharToMultiByte(codePage, 0, units.data(), static_cast<int>(units.size()),
                                    bytes, static_cast<int>(capacity), nullptr, nullptr);
  if (written <= 0) {
    return Text();
  }
  return Text(std::string_view(bytes, static_cast<std::size_t>(written)));
}

std::u16string UnitsOf(const Bytes& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), units.size() * 2);  // UTF-16LE on a little-endian host
  return units;
}

bool IsUrlSafe(std::uint8_t b) {
  return (b >= '0' && b <= '9') || b == '-' || b == '.' || (b >= 'A' && b <= 'Z') ||
         (b >= 'a' && b <= 'z');
}

}  // namespace

Text UrlEncode(const Text& text, bool keepSafe, bool toUtf8) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const Text source = toUtf8 ? GbkToUtf8(text) : text;
  std::string out;
  out.reserve(source.size() * 3);
  for (std::size_t i = 0; i < source.size(); ++i) {
    const std::uint8_t b = source.byte(i);
    if (keepSafe && IsUrlSafe(b)) {
      out += static_cast<char>(b);
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
  }
  return Text(out);
}

Text GbkToUtf8(const Text& text) {
  return EncodeFromUtf16(DecodeToUtf16(text, 936), 65001);
}

Text Utf8ToGbk(const Text& text) {
  return EncodeFromUtf16(DecodeToUtf16(text), 936);
}

Bytes DecodeToUtf16(const Text& text, int codePage) {
  if (text.empty()) {
    return Bytes();
  }
  std::u16string units = Decode(text, static_cast<unsigned>(codePage));
  units.push_back(u'\0');
  return Bytes(units.data(), units.size() * 2);
}

Text EncodeFromUtf16(const Bytes& units, int codePage) {
  return Encode(UnitsOf(units), static_cast<unsigned>(codePage));
}

std::u16string Utf8ToUtf16(const Text& text) {
  return Decode(text, platform::CP_UTF8);
}

Text Utf16ToUtf8(std::u16string_view units) {
  return Encode(units, platform::CP_UTF8);
}

namespace {

// The length of the well-formed UTF-8 character at the start of `text` (no overlong form, no
// surrogate, none above U+10FFFF); 0 when there is none.
std::size_t Utf8CharacterLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || text.size() < length) {
    return 0;
  }
  // The second byte's range depends on the lead; the rest are 0x80 to 0xBF.
  const std::uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const std::uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) {
      return 0;
    }
  }
  return length;
}

}  // namespace

Text WellFormedUtf8(const Text& text) {
  std::string_view rest = text.view();
  while (!rest.empty()) {
    const std::size_t length = Utf8CharacterLength(rest);
    if (length == 0) {
      return Utf16ToUtf8(Utf8ToUtf16(text));
    }
    rest.remove_prefix(length);
  }
  return text;
}

Text PercentEncodedNonAscii(const Text& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text.view()) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
  }
  return Text(out);
}

std::u16string AnsiToUtf16(const Text& text) {
  return Decode(text, platform::CP_ACP);
}

Text Utf16ToAnsi(std::u16string_view units) {
  return Encode(units, platform::CP_ACP);
}

Text operator""_gbk(const char* utf8, std::size_t length) {
  return Utf8ToGbk(Text(std::string_view(utf8, length)));
}

}  // namespace mf
