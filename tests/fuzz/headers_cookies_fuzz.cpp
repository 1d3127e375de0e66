// Feeds arbitrary bytes to the header and cookie text logic and checks what must always hold.
// The input: the left and the right marker (a length byte and the bytes each), the start (4 bytes,
// little-endian), the case flag (a byte), the address (a length byte and the bytes), then the text.
#include <cstdint>
#include <string_view>

#include "fuzz_support.h"
#include "support/text_ops.h"
#include "web/headers_cookies.h"

namespace {

using mf::Text;
using mf::fuzz::EqualIgnoringAsciiCase;

bool HoldsNoZero(const Text& text) {
  return text.view().find('\0') == std::string_view::npos;
}

bool IsPartOf(const Text& piece, const Text& whole) {
  return mf::fuzz::Contains(whole.view(), piece.view());
}

void CheckCookies(const Text& block) {
  const mf::ResponseCookies result = mf::CollectResponseCookies(block);
  MF_FUZZ_REQUIRE(HoldsNoZero(result.headers) && HoldsNoZero(result.cookies),
                  "collected cookies hold a zero byte");
  // Normalizing only respells names, byte for byte.
  MF_FUZZ_REQUIRE(EqualIgnoringAsciiCase(result.headers.view(), block.view()),
                  "normalizing changed more than the case of the header block");
  // Each entry comes from one line, and the lines are at least as far apart as "; ".
  MF_FUZZ_REQUIRE(result.cookies.size() <= result.headers.size(),
                  "the cookies are longer than the headers they came from");
}

void CheckHeaderLines(const Text& headers) {
  const auto pairs = mf::SplitHeaderLines(headers);
  MF_FUZZ_REQUIRE(!pairs.empty() || !headers.empty(), "a header text gave no pair");
  for (const auto& [name, value] : pairs) {
    MF_FUZZ_REQUIRE(HoldsNoZero(name) && HoldsNoZero(value), "a header pair holds a zero byte");
    MF_FUZZ_REQUIRE(IsPartOf(name, headers) && IsPartOf(value, headers),
                    "a header name or value is not part of the headers");
  }
}

void CheckCompletion(const Text& headers, const Text& url) {
  const Text completed = mf::CompleteRequestHeaders(headers, url);
  MF_FUZZ_REQUIRE(completed.view().substr(0, headers.size()) == headers.view(),
                  "completing the headers changed the given ones");
  for (const char* key :
       {"Accept:", "Referer:", "Accept-Language:", "User-Agent:", "Content-Type:"}) {
    MF_FUZZ_REQUIRE(mf::FindText(completed, Text(key)) != -1, key);
  }
}

void CheckTextBetween(const Text& text, const Text& left, const Text& right, std::int32_t start,
                      bool ignoreCase) {
  const Text between = mf::TextBetween(text, left, right, start, ignoreCase);
  MF_FUZZ_REQUIRE(HoldsNoZero(between), "the text between markers holds a zero byte");
  MF_FUZZ_REQUIRE(IsPartOf(between, text), "the text between markers is not part of the text");
  MF_FUZZ_REQUIRE(between.empty() || between.size() < text.size(),  // a marker takes a byte
                  "the text between markers leaves no room for a marker");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mf::fuzz::FuzzInput input(data, size);
  const Text left(input.TakeString(16));
  const Text right(input.TakeString(16));
  const std::int32_t start = input.TakeInt32();
  const bool ignoreCase = input.TakeBool();
  const Text url(input.TakeString(64));
  const Text text(input.TakeRest());

  CheckCookies(text);
  CheckHeaderLines(text);
  CheckCompletion(text, url);
  CheckTextBetween(text, left, right, start, ignoreCase);
  return 0;
}
