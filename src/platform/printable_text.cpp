#include "platform/printable_text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace mf::platform {
namespace {

void AppendEscaped(std::string& text, const char* format, unsigned value) {
  char escaped[16];
  std::snprintf(escaped, sizeof escaped, format, value);
  text += escaped;
}

// Characters that a terminal acts on or that change how the text around them is shown without
// being seen: controls (C1 among them), the format characters (direction overrides and
// isolates, zero-width marks), and the line and paragraph separators.
bool Hidden(UChar32 character) {
  switch (u_charType(character)) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsHiddenCharacter(char32_t character) {
  return character >= 0x80 && Hidden(static_cast<UChar32>(character));
}

std::string PrintableText(std::string_view utf8, bool doubleBackslashes) {
  std::string text;
  text.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte >= 0x80) {
      // One character, or the bytes of an ill-formed sequence (as ICU delimits it) one by one.
      std::int32_t length = 0;
      UChar32 character = 0;
      U8_NEXT(utf8.data() + i, length,
              static_cast<std::int32_t>(std::min<std::size_t>(4, utf8.size() - i)), character);
      const std::string_view sequence = utf8.substr(i, static_cast<std::size_t>(length));
      i += sequence.size();
      if (character < 0) {
        for (const char each : sequence) {
          AppendEscaped(text, "\\x%02x", static_cast<unsigned char>(each));
        }
      } else if (Hidden(character)) {
        AppendEscaped(text, character > 0xFFFF ? "\\U%08x" : "\\u%04x",
                      static_cast<unsigned>(character));
      } else {
        text += sequence;
      }
      continue;
    }
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
    } else {
      text += static_cast<char>(byte);
    }
    ++i;
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
