// Platform layer, for regexp_object.cpp; program code matches through support/regexp_matcher.h.
//
// The regular-expression engine behind the "VBScript.RegExp" automation object, over PCRE2 (16-bit
// code units, JIT-compiled).
//
// Dialect, as the object's callers rely on it:
//   - Perl-like syntax (PCRE2's) with lazy quantifiers. As in the original object, "\uhhhh" is the
//     character hhhh, "\xhh" takes exactly two hex digits, an escape with no meaning stands for its
//     character, a back reference to a group that took no part matches the empty text and "[]"
//     matches nothing.
//   - Subjects and patterns are UTF-16. Characters are Unicode characters: a surrogate pair is one
//     character to "." and to a class. A lone surrogate in the subject is one character that only
//     "." and negated classes match (it is matched as U+FFFD but reported as itself). Indexes and
//     lengths count UTF-16 units from 0.
//   - Line breaks are "\r", "\n" and "\r\n". "." matches any character but "\r" and "\n" (U+2028
//     and U+2029 are ordinary characters). "^" and "$" match at line breaks only in multi-line
//     mode; otherwise at the very start and the very end of the subject.
//   - IgnoreCase folds case by Unicode's simple case folding; "\w", "\d", "\s" and "\b" are ASCII.
//   - With Global, every match, left to right, not overlapping; without, the first only. After an
//     empty match the next search starts one character later, so an empty pattern over "abc"
//     matches four times.
//
// Bounded work: each search is given a match limit, so that a pattern that backtracks without end
// over a long line fails within a fraction of a second instead of hanging the caller. Such a
// failure fails the whole call (Execute, Replace or Test gives nothing, and `LastStatus` says
// why); it is never reported as "no match".
//
// The pattern is compiled when first needed after a change of the pattern or a flag, and reused for
// every later call. An engine is used by one thread at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace mf::platform {

enum class RegExpStatus {
  kOk,
  kBadPattern,   // the pattern does not compile
  kMatchLimit,   // a search gave up: too much backtracking (or too deep) for this subject
  kFailed,       // any other matching failure (out of memory, say)
  kBudgetSpent,  // the budget shared by the searches of one piece of work was spent before it
};

// How much matching one piece of work (a result page: its entry matches and the clean-up of its
// titles) may cost, shared by every search it is given to: processor time of the thread that
// made it, which the machine's load does not stretch. The match limit bounds one search; a
// pattern that stays just under it on every match would still cost seconds per page, so each
// search given a budget first checks that some is left. A budget belongs to one thread.
class MatchBudget {
 public:
  explicit MatchBudget(std::chrono::nanoseconds time = kPageTime);
  bool Spent() const;

  // A page's work: hundreds of times what a page of several megabytes needs to be matched.
  static constexpr std::chrono::milliseconds kPageTime{1000};

 private:
  std::chrono::nanoseconds spentAt_;  // the thread's processor clock when it is spent
  // Reading the thread's processor clock is a system call, and a page asks hundreds of times.
  // A thread spends no more processor time than the time that passes, so the budget cannot be
  // spent before the steady clock reaches this; until then Spent() needs no system call.
  mutable std::chrono::steady_clock::time_point noSoonerThan_;
};

// All matches of one Execute. They share the subject; the text of a match or group is cut from it
// only when asked for.
class RegExpMatches {
 public:
  RegExpMatches(std::shared_ptr<const std::u16string> subject, std::size_t groupCount);

  std::size_t Count() const { return offsets_.size() / Stride(); }
  // The number of capturing groups of the pattern (the same for every match).
  std::size_t GroupCount() const { return groupCount_; }

  // For `match` in [0, Count()).
  std::size_t FirstIndex(std::size_t match) const { return Start(match, 0); }
  std::size_t Length(std::size_t match) const { return End(match, 0) - Start(match, 0); }
  std::u16string_view Value(std::size_t match) const { return *Group(match, 0); }
  // Group 0 is the whole match; groups 1 to GroupCount() are the capturing groups. Nothing for a
  // group that took no part in the match or does not exist.
  std::optional<std::u16string_view> Group(std::size_t match, std::size_t group) const;

  const std::shared_ptr<const std::u16string>& Subject() const { return subject_; }

  // Used while matching: the offsets of the whole match and of each group (GroupCount() + 1
  // pairs, PCRE2_UNSET for a group that took no part).
  void Append(const std::size_t* pairs);

 private:
  std::size_t Stride() const { return 2 * (groupCount_ + 1); }
  std::size_t Start(std::size_t match, std::size_t group) const {
    return offsets_[match * Stride() + 2 * group];
  }
  std::size_t End(std::size_t match, std::size_t group) const {
    return offsets_[match * Stride() + 2 * group + 1];
  }

  std::shared_ptr<const std::u16string> subject_;
  std::size_t groupCount_;
  std::vector<std::size_t> offsets_;
};

// Why a pattern does not compile: PCRE2's message and the offset (UTF-16 units) where it stopped.
struct PatternProblem {
  std::string message;
  std::size_t offset = 0;
};

// Compiles `pattern` in the engine's dialect (case folded when `ignoreCase`) without keeping it:
// its number of capturing groups, or why it does not compile.
std::variant<std::size_t, PatternProblem> CheckPattern(std::u16string_view pattern,
                                                       bool ignoreCase);

class RegExpEngine {
 public:
  RegExpEngine();
  ~RegExpEngine();
  RegExpEngine(RegExpEngine&&) noexcept;
  RegExpEngine& operator=(RegExpEngine&&) noexcept;

  bool IgnoreCase() const { return ignoreCase_; }
  bool Multiline() const { return multiline_; }
  bool Global() const { return global_; }
  bool DotAll() const { return dotAll_; }
  const std::u16string& Pattern() const { return pattern_; }
  void SetIgnoreCase(bool on);
  void SetMultiline(bool on);
  // "." matches line breaks too (off by default, as the object's callers rely on).
  void SetDotAll(bool on);
  void SetGlobal(bool on);
  void SetPattern(std::u16string pattern);

  // The matches of the pattern in `subject`; nothing when the pattern does not compile or a
  // search failed (see LastStatus).
  std::optional<RegExpMatches> Execute(std::shared_ptr<const std::u16string> subject);
  std::optional<RegExpMatches> Execute(std::u16string subject);

  // `subject` with the matches (all with Global, else the first) replaced by `replacement`, in
  // which "$1".."$99" stand for a group ("$nn" when that group exists, else "$n"; a group that
  // took no part gives the empty text; a number above the group count stays literal), "$&" for
  // the match, "$`" for the text before it, "$'" for the text after it and "$$" for "$".
  std::optional<std::u16string> Replace(std::u16string_view subject,
                                        std::u16string_view replacement);

  // The matches found before the search stopped, and why it stopped: kOk when it reached the end
  // of the subject, kBudgetSpent when `budget` was spent before a match, or the failure of the
  // match that gave up. Every search of the loop draws on `budget`.
  struct Partial {
    RegExpMatches matches;
    RegExpStatus status;
  };
  Partial ExecuteWithin(std::shared_ptr<const std::u16string> subject, const MatchBudget& budget);
  // Replace, drawing on `budget`; nothing when it was spent or a search gave up (LastStatus).
  std::optional<std::u16string> ReplaceWithin(std::u16string_view subject,
                                              std::u16string_view replacement,
                                              const MatchBudget& budget);

  // Whether the pattern matches somewhere in `subject`.
  std::optional<bool> Test(std::u16string_view subject);

  // What the last Execute, Replace or Test came to.
  RegExpStatus LastStatus() const { return status_; }

  // The match limit of each search. PCRE2 counts backtracking steps against it; a plain scan
  // costs a few steps per character, so this leaves room for pages of several megabytes while a
  // runaway search over a 2 MB line stops after about 0.1 to 0.2 s of JIT-compiled matching.
  static constexpr std::uint32_t kMatchLimit = 50'000'000;
  // The same for a machine without JIT, where each step costs about ten times as much.
  static constexpr std::uint32_t kInterpreterMatchLimit = 10'000'000;
  // The memory that backtracking may hold for one search, in KiB: patterns whose backtracking
  // keeps state for each character of a long line give up instead of growing without end.
  static constexpr std::uint32_t kHeapLimitKiB = 64 * 1024;

 private:
  struct Compiled;

  Compiled* Compile();
  void Invalidate();
  std::optional<std::u16string> ReplaceWithin(std::u16string_view subject,
                                              std::u16string_view replacement,
                                              const MatchBudget* budget);
  // Calls `onMatch(offsets)` for each match in `subject` (all of them when `all`), where
  // `offsets` holds the start and end of the match and of each group. With a `budget`, no search
  // starts once it is spent. Sets and returns status_.
  template <typename OnMatch>
  RegExpStatus ForEachMatch(std::u16string_view subject, bool all, OnMatch&& onMatch,
                            const MatchBudget* budget = nullptr);

  bool ignoreCase_ = false;
  bool multiline_ = false;
  bool global_ = false;
  bool dotAll_ = false;
  std::u16string pattern_;
  std::unique_ptr<Compiled> compiled_;
  bool compileFailed_ = false;
  RegExpStatus status_ = RegExpStatus::kOk;
};

}  // namespace mf::platform
