#include "gbk_text.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <memory>

namespace mf::demo {
namespace {

using Converter = std::unique_ptr<UConverter, decltype(&ucnv_close)>;

Converter Open(const char* name, UErrorCode& status) {
  return Converter(ucnv_open(name, &status), ucnv_close);
}

// Converts `bytes` from one ICU encoding to another; the empty string when ICU fails.
std::string Convert(const char* from, const char* to, std::string_view bytes) {
  UErrorCode status = U_ZERO_ERROR;
  const Converter source = Open(from, status);
  const Converter target = Open(to, status);
  if (U_SUCCESS(status)) {
    ucnv_setFromUCallBack(target.get(), UCNV_FROM_U_CALLBACK_ESCAPE, UCNV_ESCAPE_XML_DEC, nullptr,
                          nullptr, &status);
  }
  // Each byte gives at most three of UTF-8, and a four-byte character at most "&#1114111;".
  std::string out(bytes.size() * 3 + 16, '\0');
  char* written = out.data();
  const char* read = bytes.data();
  if (U_SUCCESS(status)) {
    ucnv_convertEx(target.get(), source.get(), &written, out.data() + out.size(), &read,
                   bytes.data() + bytes.size(), nullptr, nullptr, nullptr, nullptr, true, true,
                   &status);
  }
  out.resize(U_SUCCESS(status) ? written - out.data() : 0);
  return out;
}

}  // namespace

std::string FromGbk(std::string_view gbk) {
  return Convert("GBK", "UTF-8", gbk);
}

std::string ToGbk(std::string_view utf8) {
  return Convert("UTF-8", "GBK", utf8);
}

}  // namespace mf::demo
