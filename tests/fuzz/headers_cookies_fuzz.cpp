// Feeds arbitrary bytes to the header and cookie text logic and checks what must always hold.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/text_ops.h"
#include "web/headers_cookies.h"

namespace {

using mf::Text;

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool HoldsNoZero(const Text& text) {
  return text.view().find('\0') == std::string_view::npos;
}

bool IsPartOf(const Text& piece, const Text& whole) {
  return whole.view().find(piece.view()) != std::string_view::npos;
}

char Folded(char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte + 32) : byte;
}

bool EqualIgnoringCase(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (Folded(left[i]) != Folded(right[i])) {
      return false;
    }
  }
  return true;
}

void CheckCookies(const Text& block) {
  const mf::ResponseCookies result = mf::CollectResponseCookies(block);
  Require(HoldsNoZero(result.headers) && HoldsNoZero(result.cookies));
  // Normalizing only respells names, byte for byte.
  Require(EqualIgnoringCase(result.headers.view(), block.view()));
  // Each entry comes from one line, and the lines are at least as far apart as "; ".
  Require(result.cookies.size() <= result.headers.size());
}

void CheckHeaderLines(const Text& headers) {
  const auto pairs = mf::SplitHeaderLines(headers);
  Require(!pairs.empty() || !headers.empty());
  for (const auto& [name, value] : pairs) {
    Require(HoldsNoZero(name) && HoldsNoZero(value));
    Require(IsPartOf(name, headers) && IsPartOf(value, headers));
  }
}

void CheckCompletion(const Text& headers, const Text& url) {
  const Text completed = mf::CompleteRequestHeaders(headers, url);
  Require(completed.view().substr(0, headers.size()) == headers.view());
  for (const char* key :
       {"Accept:", "Referer:", "Accept-Language:", "User-Agent:", "Content-Type:"}) {
    Require(mf::FindText(completed, Text(key)) != -1);
  }
}

void CheckTextBetween(const Text& text, const Text& left, const Text& right, std::int32_t start,
                      bool ignoreCase) {
  const Text between = mf::TextBetween(text, left, right, start, ignoreCase);
  Require(HoldsNoZero(between));
  Require(IsPartOf(between, text));
  Require(between.empty() || between.size() < text.size());  // a marker takes a byte at least
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const Text left(input.ConsumeRandomLengthString(16));
  const Text right(input.ConsumeRandomLengthString(16));
  const auto start = input.ConsumeIntegral<std::int32_t>();
  const bool ignoreCase = input.ConsumeBool();
  const Text url(input.ConsumeRandomLengthString(64));
  const Text text(input.ConsumeRemainingBytesAsString());

  CheckCookies(text);
  CheckHeaderLines(text);
  CheckCompletion(text, url);
  CheckTextBetween(text, left, right, start, ignoreCase);
  return 0;
}
