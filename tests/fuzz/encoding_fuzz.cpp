// Feeds arbitrary bytes to the conversions between code page 936, UTF-8 and UTF-16 and checks
// them against ICU called directly (the conversions promise ICU's results exactly, table or not),
// against the bounds on their output, and for round trips: text made of code-page-936 characters
// survives UTF-8 and UTF-16 unchanged, and so does UTF-16 made of characters the code page has.
//
// The input is read three ways: as code-page-936 (or UTF-8) text, as the characters it spells,
// and as UTF-16LE units.
#include <unicode/ucnv.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "support/encoding.h"

namespace mf {
namespace {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// `strict` converters stop at a character they cannot convert instead of substituting it.
UConverter* Converter(const char* name, bool strict) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name, &status);
  if (strict) {
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  }
  MF_FUZZ_REQUIRE(U_SUCCESS(status), name);
  return converter;
}

UConverter* Gbk() {
  static const ConverterPtr converter(Converter("windows-936", false));
  return converter.get();
}
UConverter* StrictGbk() {
  static const ConverterPtr converter(Converter("windows-936", true));
  return converter.get();
}
UConverter* Utf8() {
  static const ConverterPtr converter(Converter("UTF-8", false));
  return converter.get();
}

// ICU's conversion, or nothing when it fails (only a strict converter fails on content).
std::optional<std::u16string> IcuDecode(UConverter* converter, std::string_view bytes) {
  ucnv_reset(converter);
  std::u16string units(bytes.size() + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t produced =
      ucnv_toUChars(converter, units.data(), static_cast<int32_t>(units.size()), bytes.data(),
                    static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  units.resize(static_cast<std::size_t>(produced));
  return units;
}

std::optional<std::string> IcuEncode(UConverter* converter, std::u16string_view units) {
  ucnv_reset(converter);
  std::string bytes(units.size() * 3 + 1, '\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t produced =
      ucnv_fromUChars(converter, bytes.data(), static_cast<int32_t>(bytes.size()), units.data(),
                      static_cast<int32_t>(units.size()), &status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(produced));
  return bytes;
}

std::u16string UnitsOf(const Bytes& bytes) {
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), units.size() * 2);  // UTF-16LE on a little-endian host
  return units;
}

Bytes BytesOf(std::u16string units) {
  if (units.empty()) {
    return Bytes();
  }
  units.push_back(u'\0');
  return Bytes(units.data(), units.size() * 2);
}

bool IsSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDFFF;
}

// A character that code page 936 has and gives back unchanged: ICU converts it both ways without
// substituting, to one unit and back to the same bytes.
bool IsRoundTripCharacter(std::string_view bytes) {
  const auto units = IcuDecode(StrictGbk(), bytes);
  if (!units || units->size() != 1 || (*units)[0] == u'\0' || IsSurrogate((*units)[0])) {
    return false;
  }
  const auto back = IcuEncode(StrictGbk(), *units);
  return back && *back == bytes;
}

// Any text: the same results as ICU, inside the bounds.
void CheckAnyText(const Text& text) {
  const std::u16string units = IcuDecode(Gbk(), text.view()).value();
  MF_FUZZ_REQUIRE(DecodeToUtf16(text, 936) == BytesOf(units), "decoding 936 differs from ICU");
  MF_FUZZ_REQUIRE(AnsiToUtf16(text) == units, "AnsiToUtf16 differs from ICU");
  MF_FUZZ_REQUIRE(units.size() <= text.size(), "decoding 936 made more units than bytes");

  const Text utf8 = GbkToUtf8(text);
  MF_FUZZ_REQUIRE(utf8.str() == IcuEncode(Utf8(), units).value(), "GbkToUtf8 differs from ICU");
  MF_FUZZ_REQUIRE(utf8.size() <= 3 * text.size(), "GbkToUtf8 made over 3 bytes a byte");

  // The text read as UTF-8, as a fetched page is.
  const std::u16string fromUtf8 = IcuDecode(Utf8(), text.view()).value();
  const Text gbk = Utf8ToGbk(text);
  MF_FUZZ_REQUIRE(gbk.str() == IcuEncode(Gbk(), fromUtf8).value(), "Utf8ToGbk differs from ICU");
  MF_FUZZ_REQUIRE(gbk.size() <= text.size(), "Utf8ToGbk made a longer text");

  // What came out of a conversion into 936 converts the same way again.
  const Text settled = Utf8ToGbk(GbkToUtf8(text));
  MF_FUZZ_REQUIRE(Utf8ToGbk(GbkToUtf8(settled)) == settled, "936 -> UTF-8 -> 936 does not settle");
}

// Code-page-936 text made of round-trip characters, one (ASCII) or two bytes each, spelled by
// `spelling`: a byte below 0x80 is itself, any other picks a double-byte character with the
// byte after it; characters the code page lacks are left out.
void CheckCharacterText(std::string_view spelling) {
  std::string text;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < spelling.size(); ++i) {
    const auto byte = static_cast<std::uint8_t>(spelling[i]);
    std::string character;
    if (byte < 0x80) {
      character.assign(1, static_cast<char>(byte));
    } else if (i + 1 < spelling.size()) {
      const auto next = static_cast<std::uint8_t>(spelling[++i]);
      character = {static_cast<char>(0x81 + (byte - 0x80) % 126),
                   static_cast<char>(0x40 + next % 191)};
    }
    if (!character.empty() && IsRoundTripCharacter(character)) {
      text += character;
      ++characters;
    }
  }
  const Text gbk(text);
  const Text utf8 = GbkToUtf8(gbk);
  MF_FUZZ_REQUIRE(Utf8ToGbk(utf8) == gbk, "936 text -> UTF-8 -> 936 changed it");
  MF_FUZZ_REQUIRE(2 * utf8.size() <= 3 * gbk.size(), "UTF-8 over 3 bytes a double-byte character");
  const Bytes units = DecodeToUtf16(gbk, 936);
  MF_FUZZ_REQUIRE(units.size() == (gbk.empty() ? 0 : 2 * (characters + 1)),
                  "not one unit a character, and a terminator");
  MF_FUZZ_REQUIRE(EncodeFromUtf16(units, 936) == gbk, "936 text -> UTF-16 -> 936 changed it");
  MF_FUZZ_REQUIRE(Utf16ToAnsi(AnsiToUtf16(gbk)) == gbk, "AnsiToUtf16 and back changed the text");
}

// Any UTF-16 units: ICU's results inside the bounds; and round trips for the units that code
// page 936 has, and for well-formed UTF-16 through UTF-8.
void CheckUnits(const Bytes& bytes) {
  std::u16string units = UnitsOf(bytes);
  units = units.substr(0, units.find(u'\0'));  // where the conversions stop reading
  const Text gbk = EncodeFromUtf16(bytes, 936);
  MF_FUZZ_REQUIRE(gbk.str() == IcuEncode(Gbk(), units).value(), "encoding 936 differs from ICU");
  MF_FUZZ_REQUIRE(Utf16ToAnsi(units) == gbk, "Utf16ToAnsi differs from EncodeFromUtf16");
  MF_FUZZ_REQUIRE(gbk.size() <= 2 * units.size(), "encoding 936 made over 2 bytes a unit");
  const Text utf8 = EncodeFromUtf16(bytes, 65001);
  MF_FUZZ_REQUIRE(utf8.str() == IcuEncode(Utf8(), units).value(), "encoding UTF-8 differs");
  MF_FUZZ_REQUIRE(utf8.size() <= 3 * units.size(), "encoding UTF-8 made over 3 bytes a unit");

  std::u16string mapped;
  std::u16string wellFormed;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t unit = units[i];
    const auto encoded = IcuEncode(StrictGbk(), std::u16string_view(&unit, 1));
    if (encoded && IsRoundTripCharacter(*encoded)) {
      mapped += unit;
    }
    if (!IsSurrogate(unit)) {
      wellFormed += unit;
    } else if (unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
               units[i + 1] <= 0xDFFF) {
      wellFormed += units.substr(i++, 2);
    }
  }
  MF_FUZZ_REQUIRE(DecodeToUtf16(EncodeFromUtf16(BytesOf(mapped), 936), 936) == BytesOf(mapped),
                  "UTF-16 the code page has -> 936 -> UTF-16 changed it");
  MF_FUZZ_REQUIRE(AnsiToUtf16(Utf16ToAnsi(mapped)) == mapped, "Utf16ToAnsi and back changed it");
  MF_FUZZ_REQUIRE(DecodeToUtf16(EncodeFromUtf16(BytesOf(wellFormed), 65001)) == BytesOf(wellFormed),
                  "well-formed UTF-16 -> UTF-8 -> UTF-16 changed it");
}

}  // namespace
}  // namespace mf

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  mf::CheckAnyText(mf::Text(bytes));
  mf::CheckCharacterText(bytes);
  mf::CheckUnits(mf::Bytes(data, size));
  return 0;
}
