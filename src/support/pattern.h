// Support layer, for program code that rewrites code-page-936 text (search and replace).
//
// The pattern-matching object: a compiled Perl-syntax regular expression over code-page-936 bytes.
//
// A thin layer over Boost.Regex that adds 1-based byte positions, optional arguments and the rule
// that nothing fails loudly: a rejected pattern leaves the previous one in force, and any trouble
// while matching gives the empty text. One object must not be used by two threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/text_types.h"

namespace mf {

// Lower-case like the type it stands for in the program's logic.
class regex {  // NOLINT(readability-identifier-naming)
 public:
  // Holds an empty pattern that was never compiled; `Replace` gives the empty text until a
  // `Compile` succeeds.
  regex();
  ~regex();
  regex(const regex&) = delete;
  regex& operator=(const regex&) = delete;

  // Compiles `pattern` in Perl syntax, ignoring case unless `caseSensitive`. True on success; on
  // failure the previous pattern stays in force.
  bool Compile(const Text& pattern, bool caseSensitive = true);

  // Processes the `length` bytes of `subject` from the 1-based `start` (left out: to the end):
  // every match (only the first, unless `replaceAll`) becomes `replacement`, formatted with
  // Boost.Regex's extended format syntax ("$1", "\n", "(?1...)"); the bytes between matches are
  // copied only when `keepUnmatched`. Returns only that piece. A piece that does not lie inside
  // `subject`, an empty subject or a failed match gives the empty text.
  Text Replace(const Text& subject, const Text& replacement, std::int32_t start,
               std::optional<std::int32_t> length, bool keepUnmatched, bool replaceAll) const;
  // Why `pattern` does not compile in Perl syntax: Boost.Regex's message and the byte offset where
  // it stopped (-1 when unknown); nothing when it compiles.
  static std::optional<std::pair<std::string, std::ptrdiff_t>> Problem(const Text& pattern);

  // True once a Compile has succeeded.
  bool HasPattern() const { return compiled_ != nullptr; }

  // Every match in the whole of `subject` replaced, unmatched text kept; nullopt (rather than the
  // empty text) when there is no pattern or the matching failed, so that a caller can tell a
  // failure from a subject that was all matches.
  std::optional<Text> ReplaceAll(std::string_view subject, const Text& replacement) const;

 private:
  struct Compiled;
  // The matches between `begin` and `end` replaced under Boost.Regex's match `flags`.
  std::optional<Text> ReplaceIn(const char* begin, const char* end, const Text& replacement,
                                unsigned flags) const;

  std::unique_ptr<Compiled> compiled_;
};

}  // namespace mf
