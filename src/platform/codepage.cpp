#include "platform/codepage.h"

#include <unicode/ucnv.h>

#include <memory>
#include <string>

namespace mf::platform {
namespace {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr OpenConverter(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr converter(ucnv_open(name, &status));
  return U_SUCCESS(status) ? std::move(converter) : nullptr;
}

// Opening a converter costs a table lookup and an allocation, and pages are converted on every
// request, so each thread keeps one converter per code page.
UConverter* ConverterFor(unsigned codePage) {
  thread_local ConverterPtr gbk = OpenConverter("windows-936");
  thread_local ConverterPtr utf8 = OpenConverter("UTF-8");
  UConverter* converter = nullptr;
  if (codePage == CP_ACP || codePage == CP_GBK) {
    converter = gbk.get();
  } else if (codePage == CP_UTF8) {
    converter = utf8.get();
  }
  if (converter != nullptr) {
    ucnv_reset(converter);
  }
  return converter;
}

template <typename Unit>
int TerminatedLength(const Unit* input) {
  int n = 0;
  while (input[n] != 0) {
    ++n;
  }
  return n + 1;
}

// Runs one ICU conversion into `out` (whose size is the capacity) and returns the units written,
// or the units needed when `out` is empty. `convert` is ucnv_toUChars or ucnv_fromUChars.
template <typename In, typename Out, typename IcuCall>
int RunConversion(UConverter* converter, const In* input, int length, Out* output, int capacity,
            IcuCall convert) {
  if (converter == nullptr || input == nullptr || length < -1 || capacity < 0 ||
      (capacity > 0 && output == nullptr)) {
    return 0;
  }
  const bool terminated = length == -1;
  const int inputLength = terminated ? TerminatedLength(input) - 1 : length;
  UErrorCode status = U_ZERO_ERROR;
  const int produced = convert(converter, output, capacity, input, inputLength, &status);
  // A terminated input counts its terminator in the result, as the system calls do.
  const int needed = produced + (terminated ? 1 : 0);
  if (capacity == 0) {
    return (status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status)) ? needed : 0;
  }
  if (U_FAILURE(status) || needed > capacity) {
    return 0;
  }
  if (terminated) {
    output[produced] = 0;
  }
  return needed;
}

}  // namespace

int MultiByteToWideChar(unsigned codePage, unsigned flags, const char* input, int length,
                        char16_t* output, int capacity) {
  if (flags != 0) {
    return 0;
  }
  return RunConversion(ConverterFor(codePage), input, length, output, capacity,
                 [](UConverter* c, char16_t* out, int cap, const char* in, int len, UErrorCode* s) {
                   return ucnv_toUChars(c, out, cap, in, len, s);
                 });
}

int WideCharToMultiByte(unsigned codePage, unsigned flags, const char16_t* input, int length,
                        char* output, int capacity, const char* defaultChar, bool* usedDefault) {
  if (flags != 0 || defaultChar != nullptr || usedDefault != nullptr) {
    return 0;
  }
  return RunConversion(ConverterFor(codePage), input, length, output, capacity,
                 [](UConverter* c, char* out, int cap, const char16_t* in, int len, UErrorCode* s) {
                   return ucnv_fromUChars(c, out, cap, in, len, s);
                 });
}

}  // namespace mf::platform
