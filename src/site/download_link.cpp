#include "site/download_link.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "support/encoding.h"

namespace mf {
namespace {

constexpr std::string_view kDownloadSchemes[] = {"magnet", "ed2k", "thunder", "flashget", "qqdl"};

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// A character that would end the line, hide what follows or split the link into two arguments
// somewhere on its way: controls (C0, DEL, C1), spaces of every width, and the invisible
// formatting and direction marks.
bool BreaksTheLink(char16_t c) {
  return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) || c == 0x3000 || c == 0xFEFF;
}

// The "scheme" of "scheme:rest": a letter, then letters, digits, "+", "-" or "."; empty for none.
std::string_view SchemeOf(std::string_view link) {
  const std::size_t colon = link.find(':');
  if (colon == std::string_view::npos || colon == 0 ||
      !std::isalpha(static_cast<unsigned char>(link[0]))) {
    return {};
  }
  const std::string_view scheme = link.substr(0, colon);
  const bool valid = std::all_of(scheme.begin(), scheme.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
  return valid ? scheme : std::string_view();
}

// Whether the query of a magnet link has an exact topic that is a URN: xt (or xt.1, xt.2, ...)
// = urn:NID:NSS with neither part empty, e.g. xt=urn:btih:<info-hash>.
bool HasUrnExactTopic(std::string_view link) {
  if (link.size() < 8 || link[7] != '?') {
    return false;
  }
  std::string_view query = link.substr(8);
  while (!query.empty()) {
    const std::size_t end = query.find('&');
    const std::string_view parameter = query.substr(0, end);
    query = end == std::string_view::npos ? std::string_view() : query.substr(end + 1);
    const std::size_t equals = parameter.find('=');
    const std::string_view name = parameter.substr(0, equals);
    if (equals == std::string_view::npos ||
        !(SameLetters(name, "xt") || (name.size() > 3 && SameLetters(name.substr(0, 3), "xt.")))) {
      continue;
    }
    const std::string_view value = parameter.substr(equals + 1);
    const std::size_t nidEnd = value.find(':', 4);
    if (value.size() > 4 && SameLetters(value.substr(0, 4), "urn:") &&
        nidEnd != std::string_view::npos && nidEnd > 4 && nidEnd + 1 < value.size()) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string DownloadLinkRefusal(const Text& link) {
  const std::u16string characters = AnsiToUtf16(link);
  if (std::any_of(characters.begin(), characters.end(), BreaksTheLink)) {
    return "it holds a control character, a line break or a space";
  }
  if (GbkToUtf8(link).size() > kMaxDownloadLinkBytes) {
    return "it is longer than 8 KiB";
  }
  const std::string_view text = link.view();
  const std::string_view scheme = SchemeOf(text);
  const bool download =
      std::any_of(std::begin(kDownloadSchemes), std::end(kDownloadSchemes),
                  [&](std::string_view known) { return SameLetters(scheme, known); });
  if (!download) {
    return scheme.empty() ? "it is not a download link (magnet:, ed2k:, thunder:, flashget:, qqdl:)"
                          : std::string(scheme) +
                                ": is not a download link's scheme (magnet:, ed2k:, thunder:, "
                                "flashget:, qqdl:)";
  }
  if (text.size() == scheme.size() + 1) {
    return "the link is empty after its scheme";
  }
  if (SameLetters(scheme, "magnet") && !HasUrnExactTopic(text)) {
    return "the magnet link has no exact topic xt=urn:...";
  }
  return {};
}

}  // namespace mf
