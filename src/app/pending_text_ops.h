// Stand-in for the shared text and value operations until support/text_ops.h lands; to be removed
// then.
#pragma once

#include <cstdint>
#include <string>

#include "support/text_types.h"

namespace mf {

inline int ToInteger(const Text& text) {
  std::string ascii;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.byte(i) == 0xA3 && i + 1 < text.size() && text.byte(i + 1) >= 0xA1) {
      ascii += static_cast<char>(text.byte(++i) - 0x80);
    } else {
      ascii += static_cast<char>(text.byte(i));
    }
  }
  std::size_t at = ascii.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string::npos) {
    return 0;
  }
  const bool negative = ascii[at] == '-';
  at += (ascii[at] == '-' || ascii[at] == '+') ? 1 : 0;
  std::uint32_t value = 0;
  for (; at < ascii.size() && ascii[at] >= '0' && ascii[at] <= '9'; ++at) {
    value = value * 10 + static_cast<std::uint32_t>(ascii[at] - '0');
  }
  return static_cast<int>(negative ? 0u - value : value);
}

inline Text ToText(int value) {
  return Text(std::to_string(value));
}

}  // namespace mf
