#include "support/pattern.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <exception>
#include <iterator>
#include <string>

namespace mf {

struct regex::Compiled {
  boost::regex expression;
  std::string pattern;
  bool caseSensitive = true;
};

regex::regex() = default;

regex::~regex() = default;

bool regex::Compile(const Text& pattern, bool caseSensitive) {
  // The scraper compiles the same pattern for every page; compiling it again would give the same.
  if (compiled_ != nullptr && compiled_->pattern == pattern.str() &&
      compiled_->caseSensitive == caseSensitive) {
    return true;
  }
  const auto syntax =
      caseSensitive ? boost::regex::normal : boost::regex::normal | boost::regex::icase;
  try {
    auto compiled = std::make_unique<Compiled>(
        Compiled{boost::regex(pattern.str(), syntax), pattern.str(), caseSensitive});
    compiled_ = std::move(compiled);
    return true;
  } catch (const std::exception&) {  // boost::regex_error, or running out of memory
    return false;
  }
}

std::optional<std::pair<std::string, std::ptrdiff_t>> regex::Problem(const Text& pattern) {
  try {
    boost::regex(pattern.str(), boost::regex::normal);
    return std::nullopt;
  } catch (const boost::regex_error& error) {
    // The first sentence: the rest repeats the pattern around the error.
    std::string message = error.what();
    message.resize(std::min(message.size(), message.find("  ")));
    return std::pair{message, error.position()};
  } catch (const std::exception& error) {
    return std::pair{std::string(error.what()), std::ptrdiff_t{-1}};
  }
}

Text regex::Replace(const Text& subject, const Text& replacement, std::int32_t start,
                    std::optional<std::int32_t> length, bool keepUnmatched, bool replaceAll) const {
  // 64-bit arithmetic: start + length must not overflow on a hostile length.
  const std::int64_t size = static_cast<std::int64_t>(subject.size());
  const std::int64_t pieceLength = length ? *length : size - start + 1;
  if (compiled_ == nullptr || start < 1 || start > size || pieceLength < 0 ||
      start + pieceLength > size + 1) {
    return Text();
  }
  auto flags = boost::regex_constants::format_all;
  if (!keepUnmatched) {
    flags |= boost::regex_constants::format_no_copy;
  }
  if (!replaceAll) {
    flags |= boost::regex_constants::format_first_only;
  }
  const char* begin = subject.c_str() + (start - 1);
  return ReplaceIn(begin, begin + pieceLength, replacement, flags).value_or(Text());
}

std::optional<Text> regex::ReplaceAll(std::string_view subject, const Text& replacement) const {
  if (compiled_ == nullptr) {
    return std::nullopt;
  }
  return ReplaceIn(subject.data(), subject.data() + subject.size(), replacement,
                   boost::regex_constants::format_all);
}

std::optional<Text> regex::ReplaceIn(const char* begin, const char* end, const Text& replacement,
                                     unsigned flags) const {
  std::string result;
  try {
    boost::regex_replace(std::back_inserter(result), begin, end, compiled_->expression,
                         replacement.c_str(),
                         static_cast<boost::regex_constants::match_flag_type>(flags));
  } catch (const std::exception&) {  // too complex a match, or out of memory
    return std::nullopt;
  }
  return Text(result);
}

}  // namespace mf
