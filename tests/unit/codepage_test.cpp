// The code-page layer remembers each character's conversion; whatever it remembers, a text must
// come out exactly as ICU's own windows-936 converter makes it, substitutions included.
#include "platform/codepage.h"

#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace mf::platform {
namespace {

std::string IcuEncode(const std::u16string& units, const char* name = "windows-936") {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name, &status);
  std::string bytes(units.size() * 3 + 1, '\0');
  const int written = ucnv_fromUChars(converter, bytes.data(), static_cast<int>(bytes.size()),
                                      units.data(), static_cast<int>(units.size()), &status);
  ucnv_close(converter);
  EXPECT_TRUE(U_SUCCESS(status));
  bytes.resize(static_cast<std::size_t>(written));
  return bytes;
}

std::u16string IcuDecode(const std::string& bytes, const char* name = "windows-936") {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name, &status);
  std::u16string units(bytes.size() + 1, u'\0');
  const int written = ucnv_toUChars(converter, units.data(), static_cast<int>(units.size()),
                                    bytes.data(), static_cast<int>(bytes.size()), &status);
  ucnv_close(converter);
  EXPECT_TRUE(U_SUCCESS(status));
  units.resize(static_cast<std::size_t>(written));
  return units;
}

std::string Encode(const std::u16string& units) {
  std::string bytes(units.size() * 3 + 1, '\0');
  const int written =
      WideCharToMultiByte(CP_ACP, 0, units.data(), static_cast<int>(units.size()), bytes.data(),
                          static_cast<int>(bytes.size()), nullptr, nullptr);
  bytes.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return bytes;
}

std::u16string Decode(const std::string& bytes) {
  std::u16string units(bytes.size() + 1, u'\0');
  const int written = MultiByteToWideChar(CP_GBK, 0, bytes.data(), static_cast<int>(bytes.size()),
                                          units.data(), static_cast<int>(units.size()));
  units.resize(static_cast<std::size_t>(written > 0 ? written : 0));
  return units;
}

// UTF-8 converts without ICU when it is well formed: random texts from pieces that are well
// formed, overlong, surrogate, beyond U+10FFFF or cut short must still come out as ICU makes them.
TEST(CodePageTable, Utf8ConvertsAsIcuDoesWellFormedOrNot) {
  const std::vector<std::string> pieces = {"a",
                                           "<div class=\"x\">",
                                           "\xC3\xA9",
                                           "\xE4\xB8\xAD",
                                           "\xF0\x9F\x98\x80",
                                           "\xEF\xBF\xBD",
                                           "\xC0\xAF",
                                           "\xE0\x80\xAF",
                                           "\xED\xA0\x80",
                                           "\xF4\x90\x80\x80",
                                           "\xE4\xB8",
                                           "\x80",
                                           "\xFF",
                                           std::string(40, 'z')};
  std::mt19937 random(11);
  for (int round = 0; round < 20000; ++round) {
    std::string bytes;
    for (int n = static_cast<int>(random() % 10); n > 0; --n) {
      bytes += pieces[random() % pieces.size()];
    }
    std::u16string units(bytes.size() + 1, u'\0');
    const int decoded =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), units.data(),
                            static_cast<int>(units.size()));
    units.resize(static_cast<std::size_t>(std::max(decoded, 0)));
    ASSERT_EQ(units, IcuDecode(bytes, "UTF-8")) << round;
    // Back again, lone surrogates and all.
    if (round % 3 == 0 && !units.empty()) {
      units[random() % units.size()] = static_cast<char16_t>(0xD800 + random() % 0x800);
    }
    std::string encoded(units.size() * 3 + 1, '\0');
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, units.data(), static_cast<int>(units.size()),
                            encoded.data(), static_cast<int>(encoded.size()), nullptr, nullptr);
    encoded.resize(static_cast<std::size_t>(std::max(written, 0)));
    ASSERT_EQ(encoded, IcuEncode(units, "UTF-8")) << round;
  }
}

// Every BMP unit, alone and between ASCII and Chinese neighbours, twice (the second time from
// what the first remembered).
TEST(CodePageTable, EveryUnitEncodesAsIcuDoes) {
  for (int round = 0; round < 2; ++round) {
    for (char32_t unit = 1; unit < 0x10000; ++unit) {
      const std::u16string alone(1, static_cast<char16_t>(unit));
      const std::u16string mixed = u"a" + alone + u"中z";
      ASSERT_EQ(Encode(alone), IcuEncode(alone)) << std::hex << static_cast<int>(unit);
      ASSERT_EQ(Encode(mixed), IcuEncode(mixed)) << std::hex << static_cast<int>(unit);
    }
  }
}

TEST(CodePageTable, EveryByteSequenceDecodesAsIcuDoes) {
  for (int round = 0; round < 2; ++round) {
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
      for (int trail = 0x00; trail <= 0xFF; ++trail) {
        const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
        const std::string mixed = "a" + pair + "\xD6\xD0z";
        ASSERT_EQ(Decode(pair), IcuDecode(pair)) << std::hex << lead << ' ' << trail;
        ASSERT_EQ(Decode(mixed), IcuDecode(mixed)) << std::hex << lead << ' ' << trail;
      }
    }
  }
}

TEST(CodePageTable, SurrogatesAndTruncatedSequencesGoThroughIcu) {
  const std::u16string pair = u"中\U0001F600文";
  const std::u16string lone = u"中\xD800文\xDC00";
  EXPECT_EQ(Encode(pair), IcuEncode(pair));
  EXPECT_EQ(Encode(pair), "\xD6\xD0?\xCE\xC4");  // one character, one substitute
  EXPECT_EQ(Encode(lone), IcuEncode(lone));
  EXPECT_EQ(Decode("ab\xD6"), IcuDecode("ab\xD6"));
}

TEST(CodePageTable, TooSmallOutputAndTerminatedInputKeepTheirCounts) {
  const std::u16string units = u"中文ab";
  char small[5];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, units.data(), 4, small, 5, nullptr, nullptr), 0);
  char exact[7];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"中文ab", -1, exact, 7, nullptr, nullptr), 7);
  EXPECT_EQ(std::string(exact),
            "\xD6\xD0\xCE\xC4"
            "ab");
  char16_t wide[3];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0,
                                "\xD6\xD0\xCE\xC4"
                                "ab",
                                -1, wide, 3),
            0);
  char16_t enough[5];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0,
                                "\xD6\xD0\xCE\xC4"
                                "ab",
                                -1, enough, 5),
            5);
  EXPECT_EQ(std::u16string(enough), u"中文ab");
}

// Threads that fill the remembered conversions at the same time get the same texts.
TEST(CodePageTable, ThreadsConvertingTogetherAgree) {
  std::u16string all;
  for (char16_t unit = 0x4E00; unit < 0x9FA5; ++unit) {
    all.push_back(unit);
  }
  const std::string expected = IcuEncode(all);
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i) {
    threads.emplace_back([&, i] { results[i] = Encode(all); });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (const std::string& result : results) {
    EXPECT_EQ(result, expected);
    EXPECT_EQ(Decode(result), IcuDecode(expected));
  }
}

}  // namespace
}  // namespace mf::platform
