// The two value types that all program logic works on.
//
// `Text` is a byte string in code page 936 (GBK). Like a C string it ends at its first zero byte,
// so it can never hold one: every way of making a `Text` keeps the bytes up to the first zero and
// drops the rest. Lengths and positions count bytes; a Chinese character is two of them.
//
// `Bytes` is a counted byte array that may hold any byte, zero included.
//
// Source files are UTF-8. Write a code-page-936 literal as "正常"_gbk (converted once per
// evaluation); `Text("abc")` is for bytes that already are code page 936, such as ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mf {

class Text {
 public:
  Text() = default;
  // Keeps the bytes up to the first zero byte.
  explicit Text(std::string_view bytes);
  // Reads up to the terminating zero; a null pointer gives the empty text.
  explicit Text(const char* bytes);

  std::string_view view() const { return bytes_; }
  const std::string& str() const { return bytes_; }
  const char* c_str() const { return bytes_.c_str(); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  // The byte at a 0-based index, as unsigned.
  std::uint8_t byte(std::size_t index) const { return static_cast<std::uint8_t>(bytes_[index]); }

  // Another `Text` holds no zero byte, so appending it keeps the invariant.
  Text& operator+=(const Text& other) {
    bytes_ += other.bytes_;
    return *this;
  }
  friend Text operator+(Text left, const Text& right) { return left += right; }
  friend bool operator==(const Text&, const Text&) = default;

 private:
  std::string bytes_;
};

class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string_view raw) : bytes_(raw) {}
  Bytes(const void* data, std::size_t size) : bytes_(static_cast<const char*>(data), size) {}

  std::string_view view() const { return bytes_; }
  const std::uint8_t* data() const { return reinterpret_cast<const std::uint8_t*>(bytes_.data()); }
  std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(bytes_.data()); }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::uint8_t byte(std::size_t index) const { return static_cast<std::uint8_t>(bytes_[index]); }
  void append(std::string_view raw) { bytes_ += raw; }

  friend bool operator==(const Bytes&, const Bytes&) = default;

 private:
  std::string bytes_;
};

// A code-page-936 `Text` from a UTF-8 source literal: "解析完毕"_gbk.
Text operator""_gbk(const char* utf8, std::size_t length);

}  // namespace mf
