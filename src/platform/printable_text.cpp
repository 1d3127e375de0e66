#include "platform/printable_text.h"

#include <cstdio>

namespace mf::platform {
namespace {

void AppendEscaped(std::string& text, const char* format, unsigned value) {
  char escaped[8];
  std::snprintf(escaped, sizeof escaped, format, value);
  text += escaped;
}

}  // namespace

std::string PrintableText(std::string_view utf8, bool doubleBackslashes) {
  std::string text;
  text.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0u;
    if (byte == '\t') {
      text += "\\t";
    } else if (byte == '\n') {
      text += "\\n";
    } else if (byte == '\r') {
      text += "\\r";
    } else if (byte == '\\' && doubleBackslashes) {
      text += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      AppendEscaped(text, "\\x%02x", byte);
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080 to U+009F in UTF-8
      AppendEscaped(text, "\\u%04x", next);
      ++i;
    } else {
      text += static_cast<char>(byte);
    }
  }
  return text;
}

std::string AddressWithoutPassword(std::string_view address) {
  const std::size_t scheme = address.find("://");
  if (scheme == std::string_view::npos) {
    return std::string(address);
  }
  const std::size_t start = scheme + 3;
  const std::size_t authorityEnd = address.find_first_of("/?#", start);
  const std::string_view authority = address.substr(start, authorityEnd - start);
  const std::size_t at = authority.rfind('@');
  const std::size_t colon = authority.substr(0, at).find(':');
  if (at == std::string_view::npos || colon == std::string_view::npos) {
    return std::string(address);
  }
  return std::string(address.substr(0, start + colon + 1)) + "***" +
         std::string(address.substr(start + at));
}

}  // namespace mf::platform
