// What the fuzz targets share: a check that stops the run with a message saying what failed, and
// a reader that takes parameters from the front of a fuzz input.
//
// A target defines LLVMFuzzerTestOneInput and builds two ways: with clang and libFuzzer (the fuzz
// build), and with any compiler against corpus_replay.cpp, which feeds it the checked-in corpus
// in every test run. So nothing here depends on libFuzzer. Single-threaded, like the targets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace mf::fuzz {

[[noreturn]] inline void Fail(const char* file, int line, const char* condition,
                              std::string_view detail) {
  std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n  %.*s\n", file, line, condition,
               static_cast<int>(detail.size()), detail.data());
  std::abort();  // libFuzzer keeps the input that got here
}

// Stops the run when `condition` is false; `detail` (anything convertible to std::string_view)
// says which invariant broke.
#define MF_FUZZ_REQUIRE(condition, detail)                      \
  do {                                                          \
    if (!(condition)) {                                         \
      ::mf::fuzz::Fail(__FILE__, __LINE__, #condition, detail); \
    }                                                           \
  } while (false)

inline bool Contains(std::string_view whole, std::string_view piece) {
  return whole.find(piece) != std::string_view::npos;
}

inline bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

inline bool HasControlByte(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      return true;
    }
  }
  return false;
}

inline char FoldedAscii(char byte) {
  return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte + ('a' - 'A')) : byte;
}

inline bool EqualIgnoringAsciiCase(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (FoldedAscii(left[i]) != FoldedAscii(right[i])) {
      return false;
    }
  }
  return true;
}

// True when `rest` starts with `piece` (ignoring ASCII case when asked), which is then taken off.
inline bool TakePrefix(std::string_view& rest, std::string_view piece, bool ignoreCase = false) {
  const std::string_view head = rest.substr(0, piece.size());
  if (ignoreCase ? !EqualIgnoringAsciiCase(head, piece) : head != piece) {
    return false;
  }
  rest.remove_prefix(piece.size());
  return true;
}

// Takes parameters off the front of the input; past its end every value is zero or empty.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  std::uint8_t TakeByte() {
    if (rest_.empty()) {
      return 0;
    }
    const auto byte = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return byte;
  }
  bool TakeBool() { return (TakeByte() & 1) != 0; }
  std::int32_t TakeInt32() {  // little-endian
    std::uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
      value |= static_cast<std::uint32_t>(TakeByte()) << shift;
    }
    return static_cast<std::int32_t>(value);
  }
  // A length byte (taken modulo `maxLength` + 1), then that many bytes.
  std::string TakeString(std::size_t maxLength) {
    const std::size_t length = std::min<std::size_t>(TakeByte() % (maxLength + 1), rest_.size());
    std::string piece(rest_.substr(0, length));
    rest_.remove_prefix(length);
    return piece;
  }
  std::string TakeRest() {
    std::string all(rest_);
    rest_ = {};
    return all;
  }

 private:
  std::string_view rest_;
};

}  // namespace mf::fuzz
