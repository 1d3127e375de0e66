#include "platform/codepage.h"

#include <unicode/ucnv.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdint>
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

// Code page 936 is stateless: a character converts the same alone as within a text. So each
// character's conversion is asked of ICU once and remembered, and a text whose characters are all
// known converts by table lookups alone. ICU's per-call overhead otherwise dominates short texts
// and costs about twenty instructions a byte on long pages. A character that does not convert to
// exactly one plain unit (or one or two bytes), or that ICU substitutes, is marked slow: a text
// holding one goes through ICU whole, so that substitutions, surrogate pairs and malformed bytes
// come out exactly as ICU makes them. Entries are filled racily but always with the same value.
constexpr std::uint16_t kUnknown = 0;
constexpr std::uint16_t kSlow = 0xFFFF;  // neither a GBK code (trail bytes end at 0xFE) nor decoded

// Double-byte sequences: lead 0x81..0xFE, trail 0x40..0xFE; each to its UTF-16 unit.
constexpr int kLeadFirst = 0x81;
constexpr int kLeadCount = 0xFE - kLeadFirst + 1;
std::atomic<std::uint16_t> decodedPairs[kLeadCount * 256];
// UTF-16 units to their bytes: below 0x100 one byte, otherwise lead << 8 | trail.
std::atomic<std::uint16_t> encodedUnits[0x10000];

bool IsGbk(unsigned codePage) {
  return codePage == CP_ACP || codePage == CP_GBK;
}

bool IsSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDFFF;
}

// A converter for single characters that fails instead of substituting, so that a character
// the code page lacks (or a malformed sequence) is told apart from one that converts.
UConverter* ProbeConverter() {
  thread_local ConverterPtr probe = [] {
    ConverterPtr converter = OpenConverter("windows-936");
    UErrorCode status = U_ZERO_ERROR;
    if (converter != nullptr) {
      ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
      ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                            &status);
    }
    return U_SUCCESS(status) ? std::move(converter) : nullptr;
  }();
  if (probe != nullptr) {
    ucnv_reset(probe.get());
  }
  return probe.get();
}

std::uint16_t DecodePairWithIcu(std::uint8_t lead, std::uint8_t trail) {
  UConverter* converter = ProbeConverter();
  if (converter == nullptr) {
    return kSlow;
  }
  const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  char16_t units[4];
  UErrorCode status = U_ZERO_ERROR;
  const int produced = ucnv_toUChars(converter, units, 4, pair, 2, &status);
  const bool plain = U_SUCCESS(status) && produced == 1 && units[0] != 0xFFFD &&
                     !IsSurrogate(units[0]) && units[0] != kSlow;
  return plain ? units[0] : kSlow;
}

std::uint16_t EncodeUnitWithIcu(char16_t unit) {
  UConverter* converter = ProbeConverter();
  if (converter == nullptr || IsSurrogate(unit)) {
    return kSlow;
  }
  char bytes[8];
  UErrorCode status = U_ZERO_ERROR;
  const int produced = ucnv_fromUChars(converter, bytes, 8, &unit, 1, &status);
  if (U_FAILURE(status) || produced < 1 || produced > 2) {
    return kSlow;
  }
  const auto first = static_cast<std::uint8_t>(bytes[0]);
  if (produced == 1) {
    return first == 0 ? kSlow : first;
  }
  const auto second = static_cast<std::uint8_t>(bytes[1]);
  return first < kLeadFirst ? kSlow : static_cast<std::uint16_t>(first << 8 | second);
}

// Pages are mostly markup: widens the leading run of ASCII bytes (at most `count`, in blocks of
// sixteen) and returns how many it took; the caller does the rest one by one.
int WidenAscii(const char* input, int count, char16_t* output) {
  int done = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  while (count - done >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + done));
    if (_mm_movemask_epi8(bytes) != 0) {
      break;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(output + done), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(output + done + 8), _mm_unpackhi_epi8(bytes, zero));
    done += 16;
  }
#endif
  return done;
}

// The other way: narrows the leading run of ASCII units (at most `count`, in blocks of sixteen)
// and returns how many it took.
int NarrowAscii(const char16_t* input, int count, char* output) {
  int done = 0;
#if defined(__SSE2__)
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  while (count - done >= 16) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + done));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + done + 8));
    const __m128i above = _mm_and_si128(_mm_or_si128(first, second), high);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(above, zero)) != 0xFFFF) {
      break;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(output + done), _mm_packus_epi16(first, second));
    done += 16;
  }
#endif
  return done;
}

// Widens the ASCII run at input[i] into output[written], moving both on. True when a byte is
// left to decode and there is room for it.
bool PassAscii(const char* input, int length, char16_t* output, int capacity, int& i,
               int& written) {
  const int plain =
      WidenAscii(input + i, std::min(length - i, capacity - written), output + written);
  i += plain;
  written += plain;
  return i < length && written < capacity;
}

// Decodes by the table into `output`; the units written, or -1 when some byte needs ICU or the
// output is too small.
int DecodeGbkByTable(const char* input, int length, char16_t* output, int capacity) {
  int written = 0;
  for (int i = 0; i < length; ++i) {
    if (!PassAscii(input, length, output, capacity, i, written)) {
      return i == length ? written : -1;
    }
    const auto byte = static_cast<std::uint8_t>(input[i]);
    if (byte < 0x80) {
      output[written++] = byte;
      continue;
    }
    if (byte < kLeadFirst || byte > 0xFE || i + 1 == length) {
      return -1;
    }
    const auto trail = static_cast<std::uint8_t>(input[++i]);
    if (trail < 0x40 || trail > 0xFE) {
      return -1;
    }
    std::atomic<std::uint16_t>& entry = decodedPairs[(byte - kLeadFirst) * 256 + trail];
    std::uint16_t unit = entry.load(std::memory_order_relaxed);
    if (unit == kUnknown) {
      unit = DecodePairWithIcu(byte, trail);
      entry.store(unit, std::memory_order_relaxed);
    }
    if (unit == kSlow) {
      return -1;
    }
    output[written++] = unit;
  }
  return written;
}

// Encodes by the table into `output`; the bytes written, or -1 when some unit needs ICU or the
// output is too small.
int EncodeGbkByTable(const char16_t* input, int length, char* output, int capacity) {
  int written = 0;
  for (int i = 0; i < length; ++i) {
    const int plain =
        NarrowAscii(input + i, std::min(length - i, capacity - written), output + written);
    i += plain;
    written += plain;
    if (i == length) {
      break;
    }
    const char16_t unit = input[i];
    std::uint16_t code = unit;
    if (unit >= 0x80) {
      std::atomic<std::uint16_t>& entry = encodedUnits[unit];
      code = entry.load(std::memory_order_relaxed);
      if (code == kUnknown) {
        code = EncodeUnitWithIcu(unit);
        entry.store(code, std::memory_order_relaxed);
      }
      if (code == kSlow) {
        return -1;
      }
    }
    if (code < 0x100) {
      if (written == capacity) {
        return -1;
      }
      output[written++] = static_cast<char>(code);
    } else {
      if (capacity - written < 2) {
        return -1;
      }
      output[written++] = static_cast<char>(code >> 8);
      output[written++] = static_cast<char>(code & 0xFF);
    }
  }
  return written;
}

// UTF-8 that is well formed has one decoding, so it is decoded here, ASCII runs sixteen bytes at
// a time; the first ill-formed sequence (or too small an output) returns -1, and ICU decodes the
// whole text, so that its replacement of malformed bytes stays exactly ICU's.
int DecodeWellFormedUtf8(const char* input, int length, char16_t* output, int capacity) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(input);
  int written = 0;
  for (int i = 0; i < length;) {
    if (!PassAscii(input, length, output, capacity, i, written)) {
      return i == length ? written : -1;
    }
    const std::uint8_t lead = bytes[i];
    if (lead < 0x80) {
      output[written++] = lead;
      ++i;
      continue;
    }
    // The second byte's range depends on the lead (no overlong forms, no surrogates, nothing
    // beyond U+10FFFF); later bytes are 0x80..0xBF.
    int count = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      count = 2;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      count = 3;
      code = lead & 0x0Fu;
      low = lead == 0xE0 ? 0xA0 : 0x80;
      high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      count = 4;
      code = lead & 0x07u;
      low = lead == 0xF0 ? 0x90 : 0x80;
      high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
      return -1;
    }
    if (length - i < count || bytes[i + 1] < low || bytes[i + 1] > high) {
      return -1;
    }
    for (int k = 1; k < count; ++k) {
      if (k > 1 && (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF)) {
        return -1;
      }
      code = code << 6 | (bytes[i + k] & 0x3Fu);
    }
    i += count;
    if (code < 0x10000) {
      output[written++] = static_cast<char16_t>(code);
    } else {
      if (capacity - written < 2) {
        return -1;
      }
      code -= 0x10000;
      output[written++] = static_cast<char16_t>(0xD800 + (code >> 10));
      output[written++] = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    }
  }
  return written;
}

// UTF-16 without a lone surrogate has one encoding; a lone surrogate returns -1 and goes to ICU.
int EncodeWellFormedUtf8(const char16_t* input, int length, char* output, int capacity) {
  int written = 0;
  for (int i = 0; i < length; ++i) {
    std::uint32_t code = input[i];
    if (IsSurrogate(input[i])) {
      const bool pair =
          code < 0xDC00 && i + 1 < length && input[i + 1] >= 0xDC00 && input[i + 1] <= 0xDFFF;
      if (!pair) {
        return -1;
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (input[++i] - 0xDC00u);
    }
    const int count = code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (capacity - written < count) {
      return -1;
    }
    if (count == 1) {
      output[written++] = static_cast<char>(code);
      continue;
    }
    static constexpr std::uint8_t kLeadMarks[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (int k = count - 1; k > 0; --k) {
      output[written + k] = static_cast<char>(0x80 | (code & 0x3F));
      code >>= 6;
    }
    output[written] = static_cast<char>(kLeadMarks[count] | code);
    written += count;
  }
  return written;
}

// The table path with a given length and room to write; -1 when ICU must do it. `table` takes
// code page 936, `utf8` UTF-8.
template <typename In, typename Out, typename Table, typename Utf8>
int TryTable(unsigned codePage, const In* input, int length, Out* output, int capacity, Table table,
             Utf8 utf8) {
  if ((!IsGbk(codePage) && codePage != CP_UTF8) || input == nullptr || length < -1 ||
      capacity <= 0 || output == nullptr) {
    return -1;
  }
  const bool terminated = length == -1;
  const int inputLength = terminated ? TerminatedLength(input) - 1 : length;
  const int room = terminated ? capacity - 1 : capacity;
  const int written = room < 0              ? -1
                      : codePage == CP_UTF8 ? utf8(input, inputLength, output, room)
                                            : table(input, inputLength, output, room);
  if (written < 0) {
    return -1;
  }
  if (terminated) {
    output[written] = 0;
    return written + 1;
  }
  return written;
}

}  // namespace

int MultiByteToWideChar(unsigned codePage, unsigned flags, const char* input, int length,
                        char16_t* output, int capacity) {
  if (flags != 0) {
    return 0;
  }
  if (const int written = TryTable(codePage, input, length, output, capacity, DecodeGbkByTable,
                                   DecodeWellFormedUtf8);
      written >= 0) {
    return written;
  }
  return RunConversion(ConverterFor(codePage), input, length, output, capacity,
                       [](UConverter* c, char16_t* out, int cap, const char* in, int len,
                          UErrorCode* s) { return ucnv_toUChars(c, out, cap, in, len, s); });
}

int WideCharToMultiByte(unsigned codePage, unsigned flags, const char16_t* input, int length,
                        char* output, int capacity, const char* defaultChar, bool* usedDefault) {
  if (flags != 0 || defaultChar != nullptr || usedDefault != nullptr) {
    return 0;
  }
  if (const int written = TryTable(codePage, input, length, output, capacity, EncodeGbkByTable,
                                   EncodeWellFormedUtf8);
      written >= 0) {
    return written;
  }
  return RunConversion(ConverterFor(codePage), input, length, output, capacity,
                       [](UConverter* c, char* out, int cap, const char16_t* in, int len,
                          UErrorCode* s) { return ucnv_fromUChars(c, out, cap, in, len, s); });
}

}  // namespace mf::platform
