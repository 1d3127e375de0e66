#include "platform/regexp_engine.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>
#include <time.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

namespace mf::platform {

static_assert(sizeof(PCRE2_UCHAR) == sizeof(char16_t));
static_assert(std::is_same_v<PCRE2_SIZE, std::size_t>);

namespace {

// Without JIT the interpreter keeps its backtracking frames on the heap; this bounds how deep
// they nest (JIT has its own stack, below).
constexpr std::uint32_t kDepthLimit = 100'000;
// JIT stack per thread: starts small and grows as needed (only touched pages cost memory). A
// repeated group keeps a frame per repetition, so a long line needs megabytes; a pattern that needs
// more than the maximum fails like one that reaches the match limit.
constexpr std::size_t kJitStackStart = 32 * 1024;
constexpr std::size_t kJitStackMax = 16 * 1024 * 1024;

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct CompileContextDeleter {
  void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct JitStackDeleter {
  void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};

pcre2_jit_stack* ThreadJitStack() {
  thread_local std::unique_ptr<pcre2_jit_stack, JitStackDeleter> stack(
      pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr));
  return stack.get();
}

bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool IsSurrogate(char16_t unit) {
  return (unit & 0xF800u) == 0xD800u;
}

// Most subjects hold no surrogate at all; this says so quickly. The fixed-size blocks let the
// compiler scan them with vector instructions.
bool HasSurrogate(std::u16string_view text) {
  constexpr std::size_t kBlock = 64;
  std::size_t i = 0;
  for (; i + kBlock <= text.size(); i += kBlock) {
    unsigned found = 0;
    for (std::size_t j = 0; j < kBlock; ++j) {
      found |= IsSurrogate(text[i + j]);
    }
    if (found != 0) {
      return true;
    }
  }
  for (; i < text.size(); ++i) {
    if (IsSurrogate(text[i])) {
      return true;
    }
  }
  return false;
}

// The index of the first surrogate that is not part of a pair, or npos.
std::size_t FindLoneSurrogate(std::u16string_view text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) {
      return i;
    }
  }
  return std::u16string_view::npos;
}

// PCRE2 in UTF mode refuses ill-formed UTF-16, which the original object did not. A lone
// surrogate is handed to it as U+FFFD: one unit for one, so every offset stays valid for the
// original text. Copies only when there is something to replace.
std::u16string_view WellFormed(std::u16string_view text, std::u16string& scratch) {
  if (!HasSurrogate(text)) {
    return text;
  }
  std::size_t lone = FindLoneSurrogate(text, 0);
  if (lone == std::u16string_view::npos) {
    return text;
  }
  scratch.assign(text);
  while (lone != std::u16string_view::npos) {
    scratch[lone] = u'\uFFFD';
    lone = FindLoneSurrogate(scratch, lone + 1);
  }
  return scratch;
}

// The width in units of the character at `at` (1 at the end of the text).
std::size_t CharWidth(std::u16string_view text, std::size_t at) {
  const bool pair =
      at + 1 < text.size() && IsHighSurrogate(text[at]) && IsLowSurrogate(text[at + 1]);
  return pair ? 2 : 1;
}

RegExpStatus StatusOfMatchError(int rc) {
  switch (rc) {
    case PCRE2_ERROR_MATCHLIMIT:
    case PCRE2_ERROR_DEPTHLIMIT:
    case PCRE2_ERROR_HEAPLIMIT:
    case PCRE2_ERROR_JIT_STACKLIMIT:
      return RegExpStatus::kMatchLimit;
    default:
      return RegExpStatus::kFailed;
  }
}

PCRE2_SPTR Units(std::u16string_view text) {
  return reinterpret_cast<PCRE2_SPTR>(text.data());
}

// A compiled pattern, which PCRE2 lets any number of threads match with at once.
struct CompiledCode {
  std::unique_ptr<pcre2_code, CodeDeleter> code;
  bool jit = false;
  std::size_t groupCount = 0;
};

// Compiling a pattern (and its JIT code) costs about as much as matching a whole result page, and
// the program searches every page with the same two patterns; so compiled patterns are kept for
// the process, a few dozen at most.
class CodeCache {
 public:
  static CodeCache& Instance() {
    static CodeCache* const cache = new CodeCache;  // threads may outlive main
    return *cache;
  }

  // The compiled pattern, or null when it does not compile.
  std::shared_ptr<const CompiledCode> Find(std::u16string_view pattern, std::uint32_t options) {
    std::u16string key(pattern);
    key += static_cast<char16_t>(options & 0xFFFF);
    key += static_cast<char16_t>(options >> 16);
    {
      std::lock_guard lock(mutex_);
      if (const auto found = codes_.find(key); found != codes_.end()) {
        return found->second;
      }
    }
    std::shared_ptr<const CompiledCode> code = Compile(pattern, options);
    std::lock_guard lock(mutex_);
    if (codes_.size() >= kMostPatterns) {
      codes_.clear();
    }
    codes_.emplace(std::move(key), code);
    return code;
  }

 private:
  static constexpr std::size_t kMostPatterns = 32;

  static std::shared_ptr<const CompiledCode> Compile(std::u16string_view pattern,
                                                     std::uint32_t options) {
    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(
        pcre2_compile_context_create(nullptr));
    if (!context) {
      return nullptr;
    }
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
    pcre2_set_compile_extra_options(context.get(), PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL);
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    auto compiled = std::make_shared<CompiledCode>();
    compiled->code.reset(pcre2_compile(Units(pattern), pattern.size(), options, &error,
                                       &errorOffset, context.get()));
    if (!compiled->code) {
      return nullptr;
    }
    // Without JIT (an unsupported machine) the interpreter runs the same pattern, only slower.
    compiled->jit = pcre2_jit_compile(compiled->code.get(), PCRE2_JIT_COMPLETE) == 0;
    std::uint32_t captures = 0;
    pcre2_pattern_info(compiled->code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
    compiled->groupCount = captures;
    return compiled;
  }

  std::mutex mutex_;
  std::map<std::u16string, std::shared_ptr<const CompiledCode>> codes_;
};

}  // namespace

struct RegExpEngine::Compiled {
  std::shared_ptr<const CompiledCode> code;
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> matchData;
  std::unique_ptr<pcre2_match_context, MatchContextDeleter> context;
  std::size_t groupCount = 0;
};

// ---- MatchBudget ----

namespace {

std::chrono::nanoseconds ThreadProcessorTime() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace

MatchBudget::MatchBudget(std::chrono::nanoseconds time)
    : spentAt_(ThreadProcessorTime() + time),
      noSoonerThan_(std::chrono::steady_clock::now() + time) {}

bool MatchBudget::Spent() const {
  const auto now = std::chrono::steady_clock::now();
  if (now < noSoonerThan_) {
    return false;
  }
  const std::chrono::nanoseconds left = spentAt_ - ThreadProcessorTime();
  noSoonerThan_ = now + left;
  return left <= std::chrono::nanoseconds::zero();
}

// ---- RegExpMatches ----

RegExpMatches::RegExpMatches(std::shared_ptr<const std::u16string> subject, std::size_t groupCount)
    : subject_(std::move(subject)), groupCount_(groupCount) {}

std::optional<std::u16string_view> RegExpMatches::Group(std::size_t match,
                                                        std::size_t group) const {
  if (group > groupCount_ || Start(match, group) == PCRE2_UNSET) {
    return std::nullopt;
  }
  const std::size_t start = Start(match, group);
  return std::u16string_view(*subject_).substr(start, End(match, group) - start);
}

void RegExpMatches::Append(const std::size_t* pairs) {
  offsets_.insert(offsets_.end(), pairs, pairs + Stride());
}

// ---- RegExpEngine ----

RegExpEngine::RegExpEngine() = default;
RegExpEngine::~RegExpEngine() = default;
RegExpEngine::RegExpEngine(RegExpEngine&&) noexcept = default;
RegExpEngine& RegExpEngine::operator=(RegExpEngine&&) noexcept = default;

void RegExpEngine::SetIgnoreCase(bool on) {
  if (on != ignoreCase_) {
    ignoreCase_ = on;
    Invalidate();
  }
}

void RegExpEngine::SetMultiline(bool on) {
  if (on != multiline_) {
    multiline_ = on;
    Invalidate();
  }
}

void RegExpEngine::SetDotAll(bool on) {
  if (on != dotAll_) {
    dotAll_ = on;
    Invalidate();
  }
}

// Global only chooses how far the match loop runs; the compiled pattern stays.
void RegExpEngine::SetGlobal(bool on) {
  global_ = on;
}

void RegExpEngine::SetPattern(std::u16string pattern) {
  if (pattern != pattern_) {
    pattern_ = std::move(pattern);
    Invalidate();
  }
}

void RegExpEngine::Invalidate() {
  compiled_.reset();
  compileFailed_ = false;
}

namespace {

std::uint32_t CompileOptions(bool ignoreCase, bool multiline, bool dotAll = false) {
  std::uint32_t options = PCRE2_UTF | PCRE2_NO_UTF_CHECK | PCRE2_ALT_BSUX |
                          PCRE2_MATCH_UNSET_BACKREF | PCRE2_ALLOW_EMPTY_CLASS |
                          PCRE2_DOLLAR_ENDONLY;
  if (ignoreCase) {
    options |= PCRE2_CASELESS;
  }
  if (multiline) {
    options |= PCRE2_MULTILINE;
  }
  if (dotAll) {
    options |= PCRE2_DOTALL;
  }
  return options;
}

}  // namespace

std::variant<std::size_t, PatternProblem> CheckPattern(std::u16string_view pattern,
                                                       bool ignoreCase) {
  std::u16string scratch;
  const std::u16string_view wellFormed = WellFormed(pattern, scratch);
  std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(
      pcre2_compile_context_create(nullptr));
  pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANYCRLF);
  pcre2_set_compile_extra_options(context.get(), PCRE2_EXTRA_BAD_ESCAPE_IS_LITERAL);
  int error = 0;
  PCRE2_SIZE offset = 0;
  const std::unique_ptr<pcre2_code, CodeDeleter> code(
      pcre2_compile(Units(wellFormed), wellFormed.size(), CompileOptions(ignoreCase, false), &error,
                    &offset, context.get()));
  if (!code) {
    PCRE2_UCHAR16 message[256] = {};
    pcre2_get_error_message(error, message, std::size(message));
    std::string ascii;  // PCRE2's messages are ASCII
    for (const PCRE2_UCHAR16* c = message; *c != 0; ++c) {
      ascii += static_cast<char>(*c < 0x80 ? *c : '?');
    }
    return PatternProblem{ascii, offset};
  }
  std::uint32_t captures = 0;
  pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
  return std::size_t{captures};
}

RegExpEngine::Compiled* RegExpEngine::Compile() {
  if (compiled_ || compileFailed_) {
    return compiled_.get();
  }
  const std::uint32_t options = CompileOptions(ignoreCase_, multiline_, dotAll_);
  std::u16string scratch;
  auto compiled = std::make_unique<Compiled>();
  compiled->code = CodeCache::Instance().Find(WellFormed(pattern_, scratch), options);
  if (!compiled->code) {
    compileFailed_ = true;
    return nullptr;
  }
  compiled->matchData.reset(
      pcre2_match_data_create_from_pattern(compiled->code->code.get(), nullptr));
  compiled->context.reset(pcre2_match_context_create(nullptr));
  if (!compiled->matchData || !compiled->context) {
    compileFailed_ = true;
    return nullptr;
  }
  pcre2_set_match_limit(compiled->context.get(),
                        compiled->code->jit ? kMatchLimit : kInterpreterMatchLimit);
  pcre2_set_depth_limit(compiled->context.get(), kDepthLimit);
  pcre2_set_heap_limit(compiled->context.get(), kHeapLimitKiB);
  compiled->groupCount = compiled->code->groupCount;
  compiled_ = std::move(compiled);
  return compiled_.get();
}

template <typename OnMatch>
RegExpStatus RegExpEngine::ForEachMatch(std::u16string_view subject, bool all, OnMatch&& onMatch,
                                        const MatchBudget* budget) {
  Compiled* compiled = Compile();
  if (compiled == nullptr) {
    return status_ = RegExpStatus::kBadPattern;
  }
  std::u16string scratch;
  const std::u16string_view text = WellFormed(subject, scratch);
  pcre2_match_context* context = compiled->context.get();
  pcre2_jit_stack_assign(context, nullptr, ThreadJitStack());
  pcre2_match_data* data = compiled->matchData.get();
  const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(data);
  std::size_t start = 0;
  while (start <= text.size()) {
    if (budget != nullptr && budget->Spent()) {
      return status_ = RegExpStatus::kBudgetSpent;
    }
    // The text is well-formed by construction, so PCRE2 need not check it on each call.
    const int rc = pcre2_match(compiled->code->code.get(), Units(text), text.size(), start,
                               PCRE2_NO_UTF_CHECK, data, context);
    if (rc == PCRE2_ERROR_NOMATCH) {
      break;
    }
    if (rc < 0) {
      return status_ = StatusOfMatchError(rc);
    }
    onMatch(offsets);
    if (!all) {
      break;
    }
    // After an empty match the next search starts one character on; a surrogate pair is one.
    start = offsets[1] > offsets[0] ? offsets[1] : offsets[1] + CharWidth(text, offsets[1]);
  }
  return status_ = RegExpStatus::kOk;
}

std::optional<RegExpMatches> RegExpEngine::Execute(std::u16string subject) {
  return Execute(std::make_shared<const std::u16string>(std::move(subject)));
}

std::optional<RegExpMatches> RegExpEngine::Execute(std::shared_ptr<const std::u16string> subject) {
  if (!subject) {
    subject = std::make_shared<const std::u16string>();
  }
  const Compiled* compiled = Compile();
  if (compiled == nullptr) {
    status_ = RegExpStatus::kBadPattern;
    return std::nullopt;
  }
  RegExpMatches matches(subject, compiled->groupCount);
  if (ForEachMatch(*subject, global_, [&](const std::size_t* offsets) {
        matches.Append(offsets);
      }) != RegExpStatus::kOk) {
    return std::nullopt;
  }
  return matches;
}

RegExpEngine::Partial RegExpEngine::ExecuteWithin(std::shared_ptr<const std::u16string> subject,
                                                  const MatchBudget& budget) {
  if (!subject) {
    subject = std::make_shared<const std::u16string>();
  }
  const Compiled* compiled = Compile();
  Partial found{RegExpMatches(subject, compiled == nullptr ? 0 : compiled->groupCount),
                RegExpStatus::kBadPattern};
  if (compiled == nullptr) {
    status_ = RegExpStatus::kBadPattern;
    return found;
  }
  found.status = ForEachMatch(
      *subject, global_, [&](const std::size_t* offsets) { found.matches.Append(offsets); },
      &budget);
  return found;
}

namespace {

// One piece of a parsed replacement text.
struct ReplacementPiece {
  enum Kind { kLiteral, kGroup, kBefore, kAfter } kind;
  std::size_t first = 0;  // kLiteral: range in the replacement; kGroup: group number
  std::size_t length = 0;
};

// Reads "$n" or "$nn" at `at` (the "$"): the group number and the units it takes, or 0 when
// the digits name no group.
std::pair<std::size_t, std::size_t> GroupReference(std::u16string_view text, std::size_t at,
                                                   std::size_t groupCount) {
  auto digit = [&](std::size_t i) -> int {
    return i < text.size() && text[i] >= u'0' && text[i] <= u'9' ? text[i] - u'0' : -1;
  };
  const int first = digit(at + 1);
  const int second = digit(at + 2);
  if (first >= 0 && second >= 0) {
    const std::size_t number = static_cast<std::size_t>(first * 10 + second);
    if (number >= 1 && number <= groupCount) {
      return {number, 3};
    }
  }
  if (first >= 1 && static_cast<std::size_t>(first) <= groupCount) {
    return {static_cast<std::size_t>(first), 2};
  }
  return {0, 0};
}

std::vector<ReplacementPiece> ParseReplacement(std::u16string_view text, std::size_t groupCount) {
  std::vector<ReplacementPiece> pieces;
  auto literal = [&](std::size_t first, std::size_t length) {
    if (!pieces.empty() && pieces.back().kind == ReplacementPiece::kLiteral &&
        pieces.back().first + pieces.back().length == first) {
      pieces.back().length += length;
    } else {
      pieces.push_back({ReplacementPiece::kLiteral, first, length});
    }
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const char16_t next = i + 1 < text.size() ? text[i + 1] : u'\0';
    if (text[i] != u'$' || i + 1 == text.size()) {
      literal(i, 1);
      i += 1;
    } else if (next == u'$') {
      literal(i + 1, 1);
      i += 2;
    } else if (next == u'&' || next == u'`' || next == u'\'') {
      pieces.push_back({next == u'&'   ? ReplacementPiece::kGroup
                        : next == u'`' ? ReplacementPiece::kBefore
                                       : ReplacementPiece::kAfter,
                        0, 0});
      i += 2;
    } else if (auto [group, taken] = GroupReference(text, i, groupCount); taken > 0) {
      pieces.push_back({ReplacementPiece::kGroup, group, 0});
      i += taken;
    } else {
      literal(i, 1);
      i += 1;
    }
  }
  return pieces;
}

void AppendReplacement(const std::vector<ReplacementPiece>& pieces, std::u16string_view replacement,
                       std::u16string_view subject, const std::size_t* offsets,
                       std::u16string& out) {
  for (const ReplacementPiece& piece : pieces) {
    switch (piece.kind) {
      case ReplacementPiece::kLiteral:
        out.append(replacement.substr(piece.first, piece.length));
        break;
      case ReplacementPiece::kGroup: {
        const std::size_t start = offsets[2 * piece.first];
        if (start != PCRE2_UNSET) {
          out.append(subject.substr(start, offsets[2 * piece.first + 1] - start));
        }
        break;
      }
      case ReplacementPiece::kBefore:
        out.append(subject.substr(0, offsets[0]));
        break;
      case ReplacementPiece::kAfter:
        out.append(subject.substr(offsets[1]));
        break;
    }
  }
}

}  // namespace

std::optional<std::u16string> RegExpEngine::Replace(std::u16string_view subject,
                                                    std::u16string_view replacement) {
  return ReplaceWithin(subject, replacement, nullptr);
}

std::optional<std::u16string> RegExpEngine::ReplaceWithin(std::u16string_view subject,
                                                          std::u16string_view replacement,
                                                          const MatchBudget& budget) {
  return ReplaceWithin(subject, replacement, &budget);
}

std::optional<std::u16string> RegExpEngine::ReplaceWithin(std::u16string_view subject,
                                                          std::u16string_view replacement,
                                                          const MatchBudget* budget) {
  const Compiled* compiled = Compile();
  if (compiled == nullptr) {
    status_ = RegExpStatus::kBadPattern;
    return std::nullopt;
  }
  const std::vector<ReplacementPiece> pieces = ParseReplacement(replacement, compiled->groupCount);
  std::u16string out;
  std::size_t copied = 0;
  if (ForEachMatch(
          subject, global_,
          [&](const std::size_t* offsets) {
            out.append(subject.substr(copied, offsets[0] - copied));
            AppendReplacement(pieces, replacement, subject, offsets, out);
            copied = offsets[1];
          },
          budget) != RegExpStatus::kOk) {
    return std::nullopt;
  }
  out.append(subject.substr(copied));
  return out;
}

std::optional<bool> RegExpEngine::Test(std::u16string_view subject) {
  bool found = false;
  if (ForEachMatch(subject, false, [&](const std::size_t*) { found = true; }) !=
      RegExpStatus::kOk) {
    return std::nullopt;
  }
  return found;
}

}  // namespace mf::platform
