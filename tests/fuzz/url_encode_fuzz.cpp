// Feeds arbitrary text to UrlEncode with each combination of its two flags and checks the output
// byte by byte: "%" and two upper-case hex digits for every byte, except (with keepSafe) letters,
// digits, "-" and ".", which stay; decoding gives back the text (its UTF-8 form with toUtf8).
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "support/encoding.h"

namespace mf {
namespace {

bool IsSafe(char byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
         (byte >= 'a' && byte <= 'z') || byte == '-' || byte == '.';
}

// The value of an upper-case hex digit, or -1.
int HexValue(char digit) {
  if (digit >= '0' && digit <= '9') {
    return digit - '0';
  }
  return digit >= 'A' && digit <= 'F' ? digit - 'A' + 10 : -1;
}

// Decodes `encoded`, requiring every escape to be well formed and each byte to be escaped
// exactly when it must be.
std::string Decoded(std::string_view encoded, bool keepSafe) {
  std::string bytes;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      MF_FUZZ_REQUIRE(keepSafe && IsSafe(encoded[i]), "a byte stayed that must be escaped");
      bytes += encoded[i];
      continue;
    }
    MF_FUZZ_REQUIRE(i + 2 < encoded.size(), "an escape is cut short");
    const int high = HexValue(encoded[i + 1]);
    const int low = HexValue(encoded[i + 2]);
    MF_FUZZ_REQUIRE(high >= 0 && low >= 0, "an escape is not two upper-case hex digits");
    const auto byte = static_cast<char>(high * 16 + low);
    MF_FUZZ_REQUIRE(!(keepSafe && IsSafe(byte)), "a safe byte was escaped");
    bytes += byte;
    i += 2;
  }
  return bytes;
}

}  // namespace
}  // namespace mf

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const mf::Text text(std::string_view(reinterpret_cast<const char*>(data), size));
  const mf::Text utf8 = mf::GbkToUtf8(text);
  for (const bool keepSafe : {false, true}) {
    for (const bool toUtf8 : {false, true}) {
      const mf::Text& source = toUtf8 ? utf8 : text;
      const mf::Text encoded = mf::UrlEncode(text, keepSafe, toUtf8);
      MF_FUZZ_REQUIRE(mf::Decoded(encoded.view(), keepSafe) == source.str(),
                      "decoding does not give back the text");
      MF_FUZZ_REQUIRE(keepSafe || encoded.size() == 3 * source.size(), "not three bytes a byte");
    }
  }
  return 0;
}
