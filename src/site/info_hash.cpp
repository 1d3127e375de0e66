#include "site/info_hash.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace mf {
namespace {

// Every byte but the unreserved characters of RFC 3986 as "%" and two upper-case hex digits.
std::string PercentEncoded(std::string_view text) {
  std::string encoded;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                       (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                       byte == '~';
    if (plain) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += "0123456789ABCDEF"[byte >> 4];
      encoded += "0123456789ABCDEF"[byte & 0xF];
    }
  }
  return encoded;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

int Base32Value(char c) {
  if (c >= 'A' && c <= 'Z') {
    return c - 'A';
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a';
  }
  if (c >= '2' && c <= '7') {
    return c - '2' + 26;
  }
  return -1;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// A magnet link's exact topic: "xt", or one of several numbered "xt.1", "xt.2", ...
bool IsExactTopic(std::string_view name) {
  if (!SameLetters(name.substr(0, 2), "xt")) {
    return false;
  }
  if (name.size() == 2) {
    return true;
  }
  return name.size() > 3 && name[2] == '.' &&
         std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

constexpr char kHexDigits[] = "0123456789abcdef";

// 32 base32 characters are 160 bits, the 20 bytes of the hash.
std::optional<std::string> HexOfBase32(std::string_view text) {
  std::string hex;
  std::uint32_t bits = 0;
  int held = 0;
  for (const char c : text) {
    const int value = Base32Value(c);
    if (value < 0) {
      return std::nullopt;
    }
    bits = (bits << 5) | static_cast<std::uint32_t>(value);
    held += 5;
    while (held >= 4) {
      held -= 4;
      hex += kHexDigits[(bits >> held) & 0xF];
    }
  }
  return hex;
}

}  // namespace

std::optional<std::string> NormalizedInfoHash(std::string_view text) {
  if (text.size() == 32) {
    return HexOfBase32(text);
  }
  if (text.size() != 40) {
    return std::nullopt;
  }
  std::string hex;
  for (const char c : text) {
    const int value = HexValue(c);
    if (value < 0) {
      return std::nullopt;
    }
    hex += kHexDigits[value];
  }
  return hex;
}

std::optional<std::array<std::uint8_t, 20>> InfoHashBytes(std::string_view hex) {
  std::array<std::uint8_t, 20> bytes{};
  if (hex.size() != 2 * bytes.size()) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexValue(hex[2 * i]);
    const int low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return bytes;
}

std::optional<std::string> InfoHashOfMagnet(std::string_view magnet) {
  if (!SameLetters(magnet.substr(0, 8), "magnet:?")) {
    return std::nullopt;
  }
  std::string_view query = magnet.substr(8);
  while (!query.empty()) {
    const std::size_t end = query.find('&');
    std::string_view parameter = query.substr(0, end);
    query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
    // "&amp;" as a page writes it leaves "amp;" before the name.
    if (const std::size_t reference = parameter.rfind(';', parameter.find('='));
        reference != std::string_view::npos) {
      parameter.remove_prefix(reference + 1);
    }
    const std::size_t equals = parameter.find('=');
    if (equals == std::string_view::npos || !IsExactTopic(parameter.substr(0, equals))) {
      continue;
    }
    const std::string_view value = parameter.substr(equals + 1);
    constexpr std::string_view kBtih = "urn:btih:";
    if (SameLetters(value.substr(0, kBtih.size()), kBtih)) {
      return NormalizedInfoHash(value.substr(kBtih.size()));
    }
  }
  return std::nullopt;
}

std::string MagnetFromHash(std::string_view hash, std::string_view titleUtf8,
                           const std::vector<std::string>& trackers) {
  std::string magnet = "magnet:?xt=urn:btih:" + std::string(hash);
  if (!titleUtf8.empty()) {
    magnet += "&dn=" + PercentEncoded(titleUtf8);
  }
  for (const std::string& tracker : trackers) {
    magnet += "&tr=" + PercentEncoded(tracker);
  }
  return magnet;
}

bool IsZeroInfoHash(std::string_view normalized) {
  return normalized.size() == 40 && normalized.find_first_not_of('0') == std::string_view::npos;
}

}  // namespace mf
