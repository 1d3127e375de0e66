// Readable failure messages for `Text` and `Bytes`: printable ASCII as is, other bytes as \xNN.
#pragma once

#include <cstdio>
#include <ostream>
#include <string_view>

#include "support/text_types.h"

namespace mf {

inline void PrintEscapedBytes(std::string_view bytes, std::ostream* out) {
  *out << '"';
  for (const char byte : bytes) {
    const auto code = static_cast<unsigned char>(byte);
    if (code >= 0x20 && code < 0x7F && byte != '"' && byte != '\\') {
      *out << byte;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", code);
      *out << escaped;
    }
  }
  *out << '"';
}

inline void PrintTo(const Text& text, std::ostream* out) {
  PrintEscapedBytes(text.view(), out);
}
inline void PrintTo(const Bytes& bytes, std::ostream* out) {
  PrintEscapedBytes(bytes.view(), out);
}

}  // namespace mf
