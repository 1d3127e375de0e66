// Support layer, for program code that finds matches and their groups in code-page-936 text.
//
// `RegExpMatcher`: runs one pattern over one code-page-936 text with the platform's
// "VBScript.RegExp" automation object, then hands back the number of matches and the text of any
// match or group by 1-based numbers.
//
// The object matches on UTF-16 characters (platform/regexp_engine.h has the dialect: "." never
// matches a line break; "^" and "$" match at line breaks in multi-line mode; lazy quantifiers;
// case folding when case is ignored). Pattern and subject go to it as UTF-16 and every text comes
// back as code page 936, so a Chinese character is one character to the pattern and a group
// never holds half of one.
//
// Nothing reports an error: before the first `Search`, after a failed one (a pattern that does
// not compile, a search that gave up on a runaway pattern) and for numbers out of range the
// results are 0 and empty texts.
//
// Threads: the constructor enters the creating thread's automation apartment and the destructor
// leaves it. Each `Search` makes a fresh object on the calling thread, which must be in an
// apartment; the instance has no lock, so an instance shared between threads needs one around
// each `Search` and the reads of its results.
#pragma once

#include <cstdint>

#include "support/com_access.h"
#include "support/text_types.h"

namespace mf {

class RegExpMatcher {
 public:
  RegExpMatcher();
  // Shares the other instance's expression object and match collection and copies its subject.
  RegExpMatcher(const RegExpMatcher& other);
  RegExpMatcher& operator=(const RegExpMatcher& other);
  virtual ~RegExpMatcher();

  // Searches `subject` for `pattern`, replacing the results of the previous search. Case is
  // ignored unless `caseSensitive`; with `quoteMarker` every "#引号" in the pattern stands for a
  // double quote. True when a match collection came back, even an empty one; false when the
  // pattern does not compile or the search failed.
  virtual bool Search(const Text& pattern, const Text& subject, bool caseSensitive = false,
                      bool multiline = true, bool global = true, bool quoteMarker = false);
  // Kept in its place among the operations; does nothing.
  virtual void Placeholder() {}
  // The pattern of the last search (after "#引号" substitution); empty before the first.
  virtual Text PatternText() const;
  // The subject of the last search with its matches (all of them when that search was global,
  // else the first) replaced. In `replacement`, "$1".."$99" stand for a group, "$&" for the
  // match, "$`" and "$'" for the text before and after it, "$$" for "$". Empty when there is no
  // expression object or the pattern does not compile.
  virtual Text ReplaceMatches(const Text& replacement = Text()) const;
  virtual std::int32_t MatchCount() const;
  // The text of match n (1-based). With `position`, also its 0-based byte offset in the subject
  // (-2 when it cannot be found).
  virtual Text MatchText(std::int32_t n, std::int32_t* position = nullptr) const;
  // The text of group k (1-based) of match n (1-based); empty when the group took no part. With
  // `position`, the 0-based byte offset of the first occurrence of that text at or after the
  // start of the match (-2 when not found): for a group whose text also occurs earlier in the
  // match, that is the earlier occurrence.
  virtual Text SubMatchText(std::int32_t n, std::int32_t k, std::int32_t* position = nullptr) const;
  // The number of groups of the first match; 0 when there is none.
  virtual std::int32_t SubMatchCount() const;

  // The expression object of the last search, its match collection (empty when it failed) and
  // its subject as UTF-16.
  ComObject expressionObject;
  ComObject matchCollection;
  Variant subjectText;

 private:
  ComObject MatchObject(std::int32_t n) const;
  std::int32_t PositionOf(const ComObject& match, const Text& text) const;
};

}  // namespace mf
