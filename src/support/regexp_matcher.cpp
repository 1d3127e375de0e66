#include "support/regexp_matcher.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "support/encoding.h"
#include "support/text_ops.h"
#include "support/threads.h"

namespace mf {
namespace {

const Text kProgId("VBScript.RegExp");
const Text kIgnoreCase("IgnoreCase");
const Text kMultiline("Multiline");
const Text kSingleline("Singleline");
const Text kGlobal("Global");
const Text kPattern("Pattern");
const Text kExecute("Execute");
const Text kReplace("Replace");
const Text kCount("Count");
const Text kItem("Item");
const Text kValue("Value");
const Text kSubMatches("SubMatches");
const Text kFirstIndex("FirstIndex");

std::int32_t Truncated(double value) {
  return static_cast<std::int32_t>(value);
}

// The 0-based index `number` - 1 as the collections take it, without overflowing for any number.
double IndexOf(std::int32_t number) {
  return static_cast<double>(number) - 1.0;
}

}  // namespace

RegExpMatcher::RegExpMatcher() {
  EnterComApartment();
}

RegExpMatcher::RegExpMatcher(const RegExpMatcher& other)
    : expressionObject(other.expressionObject),
      matchCollection(other.matchCollection),
      subjectText(other.subjectText) {
  EnterComApartment();
}

RegExpMatcher& RegExpMatcher::operator=(const RegExpMatcher& other) {
  if (this == &other) {
    return *this;
  }
  ComAssign(expressionObject, other.expressionObject);
  ComAssign(matchCollection, other.matchCollection);
  VariantSet(subjectText, other.subjectText);
  return *this;
}

RegExpMatcher::~RegExpMatcher() {
  ComRelease(expressionObject);
  ComRelease(matchCollection);
  VariantClear(subjectText);
  LeaveComApartment();
}

bool RegExpMatcher::Search(const Text& pattern, const Text& subject, bool caseSensitive,
                           bool multiline, bool global, bool quoteMarker) {
  ComRelease(expressionObject);
  ComRelease(matchCollection);
  // When creation fails every call below fails quietly and the result is false.
  ComCreate(expressionObject, kProgId);
  ComSetProperty(expressionObject, kIgnoreCase, !caseSensitive);
  ComSetProperty(expressionObject, kMultiline, multiline);
  // The object has no such property: this write fails, and "." goes on not matching a line break.
  ComSetProperty(expressionObject, kSingleline, true);
  ComSetProperty(expressionObject, kGlobal, global);
  const Text effective = quoteMarker ? ReplaceSubtext(pattern, "#引号"_gbk, Text("\""), 1,
                                                      std::nullopt, /*caseSensitive=*/true)
                                     : pattern;
  ComSetProperty(expressionObject, kPattern, effective);
  VariantSet(subjectText, subject);
  matchCollection = ComCallObject(expressionObject, kExecute, subjectText);
  return !ComIsEmpty(matchCollection);
}

Text RegExpMatcher::PatternText() const {
  if (ComIsEmpty(expressionObject)) {
    return Text();
  }
  return ComGetTextProperty(expressionObject, kPattern);
}

Text RegExpMatcher::ReplaceMatches(const Text& replacement) const {
  Variant replacementValue;
  VariantSet(replacementValue, replacement);
  Text replaced = ComCallText(expressionObject, kReplace, subjectText, replacementValue);
  VariantClear(replacementValue);
  return replaced;
}

std::int32_t RegExpMatcher::MatchCount() const {
  return Truncated(ComGetNumberProperty(matchCollection, kCount));
}

ComObject RegExpMatcher::MatchObject(std::int32_t n) const {
  return ComGetObjectProperty(matchCollection, kItem, IndexOf(n));
}

Text RegExpMatcher::MatchText(std::int32_t n, std::int32_t* position) const {
  const ComObject match = MatchObject(n);
  Variant value = ComGetVariantProperty(match, kValue);
  Text text = VariantToText(value);
  VariantClear(value);
  if (position != nullptr) {
    *position = PositionOf(match, text);
  }
  return text;
}

Text RegExpMatcher::SubMatchText(std::int32_t n, std::int32_t k, std::int32_t* position) const {
  const ComObject match = MatchObject(n);
  const ComObject groups = ComGetObjectProperty(match, kSubMatches);
  Variant value = ComGetVariantProperty(groups, kItem, IndexOf(k));
  Text text = VariantToText(value);
  VariantClear(value);
  if (position != nullptr) {
    *position = PositionOf(match, text);
  }
  return text;
}

std::int32_t RegExpMatcher::SubMatchCount() const {
  const ComObject first = ComGetObjectProperty(matchCollection, kItem, 0.0);
  const ComObject groups = ComGetObjectProperty(first, kSubMatches);
  return Truncated(ComGetNumberProperty(groups, kCount));
}

// The match's start counts UTF-16 units; the subject as `Text` counts bytes, and a Chinese
// character is one unit but two bytes. So the start becomes a byte offset by encoding the subject
// before it, and `text` is looked for from there. An empty text stands at the start itself.
std::int32_t RegExpMatcher::PositionOf(const ComObject& match, const Text& text) const {
  const std::u16string& units = subjectText.value().AsString();
  const std::int32_t firstIndex = Truncated(ComGetNumberProperty(match, kFirstIndex));
  if (ComErrorCode() != 0 || firstIndex < 0 ||
      static_cast<std::size_t>(firstIndex) > units.size()) {
    return -2;
  }
  const std::u16string_view before = std::u16string_view(units).substr(0, firstIndex);
  const auto start = static_cast<std::int32_t>(Utf16ToAnsi(before).size());
  if (text.empty()) {
    return start;
  }
  const bool ignoreCase = ComGetNumberProperty(expressionObject, kIgnoreCase) != 0.0;
  return FindText(VariantToText(subjectText), text, start + 1, ignoreCase) - 1;
}

}  // namespace mf
