#include "site/page_diagnosis.h"

#include <string.h>  // memmem

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "platform/printable_text.h"
#include "platform/threads.h"
#include "site/json_rows.h"
#include "site/result_page.h"
#include "site/xml_rows.h"
#include "support/encoding.h"

namespace mf {
namespace {

constexpr std::size_t kKeysShown = 20;
// What of the entry pattern's leading text is looked for: enough to tell where the entries are.
constexpr std::size_t kMostLiteralBytes = 200;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// The start of the UTF-8 character that holds byte `at`, so that a cut never splits one.
std::size_t CharacterStart(std::string_view utf8, std::size_t at) {
  while (at > 0 && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80) {
    --at;
  }
  return at;
}

std::string Shortened(std::string_view utf8, std::size_t maxBytes) {
  if (utf8.size() <= maxBytes) {
    return std::string(utf8);
  }
  return std::string(utf8.substr(0, CharacterStart(utf8, maxBytes))) + "...";
}

std::size_t FindNoCase(std::string_view text, std::string_view what, std::size_t from) {
  const auto same = [](char a, char b) { return Lower(a) == Lower(b); };
  const auto found = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                                 what.begin(), what.end(), same);
  return found == text.end() ? std::string_view::npos
                             : static_cast<std::size_t>(found - text.begin());
}

// The top-level keys of a JSON answer, or what the answer is when it is no object; a document
// nested deeper than the rows reader takes is not built.
std::string JsonShape(std::string_view utf8) {
  using Json = nlohmann::json;
  bool tooDeep = false;
  const Json::parser_callback_t bound = [&tooDeep](int depth, Json::parse_event_t, Json&) {
    tooDeep = tooDeep || depth > kMaxJsonDepth;
    return !tooDeep;
  };
  const Json document = Json::parse(utf8.begin(), utf8.end(), bound, false);
  if (tooDeep || document.is_discarded()) {
    return std::string();
  }
  if (!document.is_object()) {
    return "the answer is " + std::string(document.type_name()) + ", not an object";
  }
  std::string keys;
  std::size_t shown = 0;
  for (const auto& [key, value] : document.items()) {
    if (shown++ == kKeysShown) {
      keys += ", ... (" + std::to_string(document.size()) + " in all)";
      break;
    }
    keys += (keys.empty() ? "" : ", ") + platform::PrintableText(Shortened(key, 60));
  }
  return keys.empty() ? "the answer is an empty object" : "top-level keys: " + keys;
}

bool HasWord(std::string_view contentType, std::string_view word) {
  return contentType.find(word) != std::string_view::npos;
}

}  // namespace

std::string LeadingLiteral(std::string_view pattern) {
  // A top-level alternative means no text is common to every match.
  int depth = 0;
  bool inClass = false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '\\') {
      ++i;
    } else if (inClass) {
      inClass = c != ']';
    } else if (c == '[') {
      inClass = true;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == '|' && depth == 0) {
      return std::string();
    }
  }
  std::string literal;
  std::size_t lastStart = 0;  // where the last character of `literal` begins
  std::size_t i = !pattern.empty() && pattern.front() == '^' ? 1 : 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '\\' && i + 1 < pattern.size() &&
        !std::isalnum(static_cast<unsigned char>(pattern[i + 1])) &&
        static_cast<unsigned char>(pattern[i + 1]) < 0x80) {
      lastStart = literal.size();
      literal += pattern[i + 1];
      i += 2;
      continue;
    }
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) {
      if (c == '?' || c == '*' || c == '{') {
        literal.resize(lastStart);  // the character before may be left out
      }
      break;
    }
    const auto lead = static_cast<unsigned char>(c);
    const std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    lastStart = literal.size();
    literal += pattern.substr(i, length);
    i += length;
  }
  return literal;
}

std::string PageTitle(std::string_view utf8, std::size_t maxBytes) {
  std::size_t open = FindNoCase(utf8, "<title", 0);
  // "<title" must end the tag's name: not "<titlebar".
  while (open != std::string_view::npos && open + 6 < utf8.size() && utf8[open + 6] != '>' &&
         !IsSpace(utf8[open + 6])) {
    open = FindNoCase(utf8, "<title", open + 6);
  }
  if (open == std::string_view::npos) {
    return std::string();
  }
  const std::size_t start = utf8.find('>', open);
  if (start == std::string_view::npos) {
    return std::string();
  }
  const std::size_t end = FindNoCase(utf8, "</title", start);
  const std::string_view inside = utf8.substr(
      start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
  std::string title;
  for (const char c : inside) {
    if (!IsSpace(c)) {
      title += c;
    } else if (!title.empty() && title.back() != ' ') {
      title += ' ';
    }
  }
  if (!title.empty() && title.back() == ' ') {
    title.pop_back();
  }
  return Shortened(title, maxBytes);
}

std::size_t CountOccurrences(std::string_view utf8, std::string_view literal) {
  std::size_t count = 0;
  if (literal.empty() || literal.size() > utf8.size()) {
    return count;
  }
  // Both sides folded once, then glibc's memmem, which is linear in the page and the literal
  // together (a naive search costs their product: seconds for a long literal on a large page).
  const auto folded = [](std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
    return lower;
  };
  const std::string page = folded(utf8);
  const std::string what = folded(literal);
  for (std::size_t at = 0; at + what.size() <= page.size(); at += what.size()) {
    platform::UnwindIfKilled();
    const void* found = memmem(page.data() + at, page.size() - at, what.data(), what.size());
    if (found == nullptr) {
      break;
    }
    at = static_cast<std::size_t>(static_cast<const char*>(found) - page.data());
    ++count;
  }
  return count;
}

std::string PageReading(PageEncoding encoding, std::string_view charset) {
  if (encoding != PageEncoding::kFromCharset) {
    return encoding == PageEncoding::kGbk ? "gbk" : "utf-8";
  }
  const bool gbk = ReadsAsGbk(encoding, charset);
  const std::string named =
      charset.empty() ? "no charset" : "charset=" + platform::PrintableText(charset);
  return named + " → " + (gbk ? "gbk" : "utf-8");
}

std::vector<PageFinding> DiagnoseEmptyPage(const FetchedPage& page, const Text& pageText,
                                           const SiteDefinition& site) {
  std::vector<PageFinding> findings;
  const std::string contentType = platform::PrintableText(page.contentType);
  if (page.status == 0) {
    findings.push_back({"failed", "no answer came, so there is no page to look at"});
    return findings;
  }
  if (page.status >= 400) {
    findings.push_back({"failed", "the answer's status is an error"});
  }
  if (page.body.empty() || pageText.empty()) {
    findings.push_back({"empty", page.body.empty() ? "the answer has no body"
                                                   : "the page has no text before a zero byte"});
    return findings;
  }
  const std::string utf8 = SiteTextToUtf8(pageText, site);
  const bool html = site.pageFormat == PageFormat::kHtml;
  const std::string format = html ? "HTML" : site.pageFormat == PageFormat::kJson ? "JSON" : "XML";
  std::string word = format;
  std::transform(word.begin(), word.end(), word.begin(), Lower);
  if (!contentType.empty() && !HasWord(contentType, word)) {
    findings.push_back({"not " + format, "the answer's Content-Type is " + contentType});
  }
  if (!html) {
    const std::string shape = format == "JSON" ? JsonShape(utf8) : XmlShape(utf8);
    findings.push_back({format, shape.empty() ? "the page does not parse as " + format : shape});
    if (!shape.empty()) {
      return findings;
    }
  }
  const std::string title = PageTitle(utf8);
  findings.push_back({"title", title.empty() ? "the page has no <title>"
                                             : "\"" + platform::PrintableText(title) + "\""});
  if (html) {
    std::string literal = LeadingLiteral(GbkToUtf8(site.entryPattern).view());
    if (literal.size() > kMostLiteralBytes) {
      literal.resize(CharacterStart(literal, kMostLiteralBytes));
    }
    const std::size_t count = CountOccurrences(utf8, literal);
    findings.push_back({"literal", literal.empty()
                                       ? "the entry pattern starts with no literal text to look for"
                                       : "'" + platform::PrintableText(literal) +
                                             "' (the entry pattern's leading text) " +
                                             (count == 0 ? "is not on the page"
                                                         : "occurs " + std::to_string(count) +
                                                               (count == 1 ? " time" : " times"))});
  }
  return findings;
}

}  // namespace mf
