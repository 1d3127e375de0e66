#include "support/encoding.h"

#include <cstring>

#include "platform/codepage.h"

namespace mf {
namespace {

std::u16string Decode(const Text& text, unsigned codePage) {
  const int needed =
      platform::MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  std::u16string units(static_cast<std::size_t>(needed), u'\0');
  platform::MultiByteToWideChar(codePage, 0, text.c_str(), -1, units.data(), needed);
  units.resize(static_cast<std::size_t>(needed - 1));  // drop the terminator
  return units;
}

Text Encode(std::u16string_view units, unsigned codePage) {
  const std::u16string terminated(units.substr(0, units.find(u'\0')));
  const int needed = platform::WideCharToMultiByte(codePage, 0, terminated.c_str(), -1, nullptr,
                                                   0, nullptr, nullptr);
  if (needed <= 0) {
    return Text();
  }
  std::string bytes(static_cast<std::size_t>(needed), '\0');
  platform::WideCharToMultiByte(codePage, 0, terminated.c_str(), -1, bytes.data(), needed,
                                nullptr, nullptr);
  return Text(bytes);  // stops at the terminator
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

Text GbkToUtf8(const Text& text) { return EncodeFromUtf16(DecodeToUtf16(text, 936), 65001); }

Text Utf8ToGbk(const Text& text) { return EncodeFromUtf16(DecodeToUtf16(text), 936); }

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

std::u16string AnsiToUtf16(const Text& text) { return Decode(text, platform::CP_ACP); }

Text Utf16ToAnsi(std::u16string_view units) { return Encode(units, platform::CP_ACP); }

Text operator""_gbk(const char* utf8, std::size_t length) {
  return Utf8ToGbk(Text(std::string_view(utf8, length)));
}

}  // namespace mf
