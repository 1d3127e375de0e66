#include "site/title_cleanup.h"

#include <charconv>
#include <map>
#include <memory>
#include <optional>

#include "site/result_page.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/utf8_pattern.h"

namespace mf {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

Text Removed(const regex& pattern, const Text& text, bool builtInMarkup) {
  if (builtInMarkup) {
    return StripMarkup(pattern, text);  // the same result, in time linear in the title
  }
  return pattern.ReplaceAll(text.view(), Text()).value_or(Text());
}

// A pattern object per remove step after the first, kept for the calling thread.
const regex& ThreadPattern(const Text& pattern) {
  thread_local std::map<std::string, std::unique_ptr<regex>> patterns;
  std::unique_ptr<regex>& kept = patterns[pattern.str()];
  if (!kept) {
    kept = std::make_unique<regex>();
    kept->Compile(pattern);
  }
  return *kept;
}

Text CollapsedSpace(const Text& text) {
  std::string out;
  for (const char c : text.view()) {
    if (!IsSpace(c)) {
      out += c;
    } else if (out.empty() || out.back() != ' ') {
      out += ' ';
    }
  }
  return Text(out);
}

Text Trimmed(const Text& text) {
  std::string_view view = text.view();
  while (!view.empty() && IsSpace(view.front())) {
    view.remove_prefix(1);
  }
  while (!view.empty() && IsSpace(view.back())) {
    view.remove_suffix(1);
  }
  return Text(view);
}

std::string Utf8Of(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// The character a reference at the start of `text` stands for (code page 936) and the
// reference's length; nothing when it is none that is decoded.
std::optional<std::pair<Text, std::size_t>> Reference(std::string_view text, bool toUtf8) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {{"&amp;", '&'},   {"&lt;", '<'},
                                                                 {"&gt;", '>'},    {"&quot;", '"'},
                                                                 {"&apos;", '\''}, {"&nbsp;", ' '}};
  for (const auto& [name, character] : kNamed) {
    if (text.starts_with(name)) {
      return std::pair{Text(std::string(1, character)), name.size()};
    }
  }
  const std::size_t end = text.find(';');
  if (!text.starts_with("&#") || end == std::string_view::npos || end > 10) {
    return std::nullopt;
  }
  const bool hex = text.size() > 2 && (text[2] == 'x' || text[2] == 'X');
  const std::string_view digits = text.substr(hex ? 3 : 2, end - (hex ? 3 : 2));
  std::uint32_t value = 0;
  const auto [last, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
  const bool control = value < 0x20 || (value >= 0x7F && value < 0xA0);
  const bool surrogate = value >= 0xD800 && value < 0xE000;
  if (digits.empty() || error != std::errc() || last != digits.data() + digits.size() || control ||
      surrogate || value > 0x10FFFF) {
    return std::nullopt;
  }
  const Text character(Utf8Of(value));
  return std::pair{toUtf8 ? character : Utf8ToGbk(character), end + 1};
}

}  // namespace

Text DecodeCharacterReferences(const Text& text, bool toUtf8) {
  Text decoded;
  std::string_view rest = text.view();
  while (!rest.empty()) {
    const std::size_t amp = rest.find('&');
    decoded += Text(rest.substr(0, amp));
    if (amp == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(amp);
    const auto reference = Reference(rest, toUtf8);
    decoded += reference ? reference->first : Text("&");
    rest.remove_prefix(reference ? reference->second : 1);
  }
  return decoded;
}

namespace {

// A step other than kRemove.
Text AfterPlainStep(const CleanupStep& step, const Text& text, bool utf8) {
  switch (step.kind) {
    case CleanupStep::Kind::kDecodeReferences:
      return DecodeCharacterReferences(text, utf8);
    case CleanupStep::Kind::kCollapseSpace:
      return CollapsedSpace(text);
    case CleanupStep::Kind::kTrim:
      return Trimmed(text);
    case CleanupStep::Kind::kRemove:
      break;
  }
  return text;
}

}  // namespace

Text CleanTitle(const std::vector<CleanupStep>& steps, regex& markup, const Text& title) {
  Text text = title;
  bool markupUsed = false;
  for (const CleanupStep& step : steps) {
    if (step.kind != CleanupStep::Kind::kRemove) {
      text = AfterPlainStep(step, text, false);
    } else if (!markupUsed) {
      markupUsed = true;
      markup.Compile(step.pattern);
      text = Removed(markup, text, step.pattern == kMarkupPattern);
    } else {
      text = Removed(ThreadPattern(step.pattern), text, step.pattern == kMarkupPattern);
    }
  }
  return text;
}

std::optional<Text> CleanSiteText(const std::vector<CleanupStep>& steps, const Text& text,
                                  const platform::MatchBudget& budget,
                                  platform::RegExpStatus* status) {
  Text cleaned = text;
  for (const CleanupStep& step : steps) {
    if (step.kind != CleanupStep::Kind::kRemove) {
      cleaned = AfterPlainStep(step, cleaned, true);
    } else if (auto removed = RemoveAllUtf8(step.pattern, cleaned, budget, status)) {
      cleaned = std::move(*removed);
    } else {
      return std::nullopt;
    }
  }
  return cleaned;
}

Text ExpandAddress(std::string_view address,
                   std::initializer_list<std::pair<std::string_view, Text>> values) {
  Text expanded;
  while (!address.empty()) {
    const std::size_t open = address.find('{');
    expanded += Text(address.substr(0, open));
    if (open == std::string_view::npos) {
      break;
    }
    const std::size_t close = address.find('}', open);
    const std::string_view name = address.substr(open + 1, close - open - 1);
    for (const auto& [placeholder, value] : values) {
      if (placeholder == name) {
        expanded += value;
      }
    }
    address.remove_prefix(close == std::string_view::npos ? address.size() : close + 1);
  }
  return expanded;
}

}  // namespace mf
