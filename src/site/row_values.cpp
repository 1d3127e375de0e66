#include "site/row_values.h"

#include <locale.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <utility>

namespace mf {
namespace {

// The last second of the year 9999.
constexpr std::int64_t kLatestSecond = 253'402'300'799;

// Reads a text from its start, step by step; each step either takes what it looks for or
// leaves the text as it was.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  bool AtEnd() const { return text_.empty(); }
  std::string_view Rest() const { return text_; }
  void Skip(std::size_t bytes) { text_.remove_prefix(std::min(bytes, text_.size())); }

  // Spaces, tabs, no-break spaces (UTF-8) and "&nbsp;" as written.
  void SkipSpace() {
    while (Take(" ") || Take("\t") || Take("\xC2\xA0") || Take("&nbsp;")) {
    }
  }
  bool Take(std::string_view what) {
    if (!text_.starts_with(what)) {
      return false;
    }
    text_.remove_prefix(what.size());
    return true;
  }
  // `what` in any ASCII case.
  bool TakeWord(std::string_view what) {
    if (text_.size() < what.size()) {
      return false;
    }
    for (std::size_t i = 0; i < what.size(); ++i) {
      const char c = text_[i];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != what[i]) {
        return false;
      }
    }
    text_.remove_prefix(what.size());
    return true;
  }
  // The decimal digits here, as written (none: empty).
  std::string_view Digits() {
    std::size_t n = 0;
    while (n < text_.size() && text_[n] >= '0' && text_[n] <= '9') {
      ++n;
    }
    const std::string_view digits = text_.substr(0, n);
    text_.remove_prefix(n);
    return digits;
  }

 private:
  std::string_view text_;
};

// Adds the digits to `value` (value * 10 + digit each); false when 63 bits cannot hold it.
bool AppendDigits(std::int64_t& value, std::string_view digits) {
  for (const char digit : digits) {
    if (__builtin_mul_overflow(value, 10, &value) ||
        __builtin_add_overflow(value, digit - '0', &value)) {
      return false;
    }
  }
  return true;
}

// A whole number with optional thousands separators ("1,234,567"); every group after a comma
// has three digits.
std::optional<std::int64_t> GroupedWhole(Cursor& cursor) {
  std::int64_t value = 0;
  const std::string_view first = cursor.Digits();
  if (first.empty() || !AppendDigits(value, first)) {
    return std::nullopt;
  }
  while (cursor.Rest().starts_with(',')) {
    Cursor group(cursor.Rest().substr(1));
    const std::string_view digits = group.Digits();
    if (digits.size() != 3 || !AppendDigits(value, digits)) {
      return std::nullopt;
    }
    cursor.Skip(4);
  }
  return value;
}

// The bytes a size's unit counts (0 for none it knows); no unit at all counts `bare`.
std::int64_t UnitBytes(Cursor& cursor, std::int64_t bare) {
  if (cursor.AtEnd()) {
    return bare;
  }
  static constexpr std::array<std::pair<char, std::int64_t>, 4> kPrefixes = {
      {{'k', std::int64_t{1} << 10},
       {'m', std::int64_t{1} << 20},
       {'g', std::int64_t{1} << 30},
       {'t', std::int64_t{1} << 40}}};
  for (const auto& [prefix, bytes] : kPrefixes) {
    if (cursor.TakeWord(std::string_view(&prefix, 1))) {
      if (!cursor.TakeWord("ib")) {
        cursor.TakeWord("b");  // "1.2 G", "1.2 GB" and "1.2 GiB" alike
      }
      return bytes;
    }
  }
  return cursor.TakeWord("bytes") || cursor.TakeWord("byte") || cursor.TakeWord("b") ? 1 : 0;
}

// C's conventions whatever the process's locale: month and day names in English.
locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
  return c;
}

// Reads `format` at the cursor with strptime into `when`; the cursor moves past it.
bool TakeTime(Cursor& cursor, const char* format, std::tm& when) {
  const std::string text(cursor.Rest());
  const char* end = strptime_l(text.c_str(), format, &when, CLocale());
  if (end == nullptr) {
    return false;
  }
  cursor.Skip(static_cast<std::size_t>(end - text.c_str()));
  return true;
}

// "Z", "GMT", "UTC", "UT", "+08:00", "+0800" or "+08": seconds ahead of UTC.
std::optional<std::int32_t> Zone(Cursor& cursor) {
  if (cursor.TakeWord("z") || cursor.TakeWord("gmt") || cursor.TakeWord("utc") ||
      cursor.TakeWord("ut")) {
    return 0;
  }
  const int sign = cursor.Take("+") ? 1 : cursor.Take("-") ? -1 : 0;
  const std::string_view hours = cursor.Digits();
  std::string_view minutes;
  if (hours.size() == 4) {
    minutes = hours.substr(2);
  } else if (hours.size() == 2 && cursor.Take(":")) {
    minutes = cursor.Digits();
  } else if (hours.size() == 2) {
    minutes = "00";
  }
  if (sign == 0 || minutes.size() != 2) {
    return std::nullopt;
  }
  const int h = (hours[0] - '0') * 10 + (hours[1] - '0');
  const int m = (minutes[0] - '0') * 10 + (minutes[1] - '0');
  if (h > 23 || m > 59) {
    return std::nullopt;
  }
  return sign * (h * 3600 + m * 60);
}

// A time of day ("12:49", "12:49:05", "12:49:05.123"), then a zone or none.
bool TimeAndZone(Cursor& cursor, std::tm& when, std::optional<std::int32_t>& zone) {
  if (!TakeTime(cursor, "%H:%M", when)) {
    return false;
  }
  if (cursor.Take(":")) {
    if (!TakeTime(cursor, "%S", when)) {
      return false;
    }
    if (cursor.Take(".") || cursor.Take(",")) {
      if (cursor.Digits().empty()) {
        return false;
      }
    }
  }
  cursor.SkipSpace();
  if (!cursor.AtEnd()) {
    zone = Zone(cursor);
    cursor.SkipSpace();
    return zone && cursor.AtEnd();
  }
  return true;
}

// The date and time of a calendar date as written, without its zone: ISO 8601 and its
// "2026/09/01 12:49" spelling, or RFC 822.
bool CalendarDate(Cursor& cursor, std::tm& when, std::optional<std::int32_t>& zone) {
  for (const char* format : {"%Y-%m-%d", "%Y/%m/%d"}) {
    Cursor iso = cursor;
    when = std::tm{};
    if (TakeTime(iso, format, when)) {
      if (iso.AtEnd()) {
        return true;  // a date alone: its midnight
      }
      return (iso.Take("T") || iso.Take(" ")) && TimeAndZone(iso, when, zone);
    }
  }
  Cursor rfc = cursor;
  when = std::tm{};
  // The day's name is optional, and the space after its comma too ("Tue,1 Sep 2026 ...").
  if (TakeTime(rfc, "%a,", when)) {
    rfc.SkipSpace();
  }
  if (!TakeTime(rfc, "%d %b %Y", when) || !rfc.Take(" ")) {
    return false;
  }
  rfc.SkipSpace();
  return TimeAndZone(rfc, when, zone);
}

bool SameFields(const std::tm& a, const std::tm& b) {
  return a.tm_year == b.tm_year && a.tm_mon == b.tm_mon && a.tm_mday == b.tm_mday &&
         a.tm_hour == b.tm_hour && a.tm_min == b.tm_min && a.tm_sec == b.tm_sec;
}

std::optional<std::int64_t> InRange(std::int64_t seconds) {
  return seconds >= 0 && seconds <= kLatestSecond ? std::optional(seconds) : std::nullopt;
}

template <typename Parse, typename Show>
void ReadValue(Text& text, std::optional<std::int64_t>& number, const char* what, Parse parse,
               Show show, std::vector<UnreadValue>& unread) {
  if (text.empty()) {
    return;
  }
  number = parse(text.view());
  if (number) {
    text = Text(show(*number));
  } else {
    unread.push_back({text, what});
  }
}

}  // namespace

std::optional<std::int64_t> SizeInBytes(std::string_view text, std::int64_t bareUnitBytes) {
  Cursor cursor(text);
  cursor.SkipSpace();
  const std::optional<std::int64_t> whole = GroupedWhole(cursor);
  std::string_view fraction;
  if (whole && cursor.Take(".")) {
    fraction = cursor.Digits();
  }
  cursor.SkipSpace();
  const std::int64_t unit = UnitBytes(cursor, bareUnitBytes);
  cursor.SkipSpace();
  std::int64_t bytes = 0;
  if (!whole || unit == 0 || !cursor.AtEnd() || __builtin_mul_overflow(*whole, unit, &bytes)) {
    return std::nullopt;
  }
  // The fraction's share of the unit, rounded: at most 18 digits count, which is more than any
  // unit's bytes can tell apart.
  const std::string_view counted = fraction.substr(0, 18);
  std::int64_t numerator = 0;
  AppendDigits(numerator, counted);
  const long double share = static_cast<long double>(numerator) /
                            std::pow(10.0L, static_cast<long double>(counted.size())) *
                            static_cast<long double>(unit);
  if (__builtin_add_overflow(bytes, static_cast<std::int64_t>(std::llround(share)), &bytes)) {
    return std::nullopt;
  }
  return bytes;
}

std::string ShownSize(std::int64_t bytes) {
  if (bytes < 1024) {
    return std::to_string(std::max<std::int64_t>(bytes, 0)) + " B";
  }
  static constexpr std::array<const char*, 6> kUnits = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  const auto value = static_cast<std::uint64_t>(bytes);
  std::size_t unit = 0;
  std::uint64_t size = 1024;
  while (unit + 1 < kUnits.size() && value >= size * 1024) {
    size *= 1024;
    ++unit;
  }
  std::uint64_t whole = value / size;
  std::uint64_t tenths = ((value % size) * 10 + size / 2) / size;
  if (tenths == 10) {
    ++whole;
    tenths = 0;
  }
  if (whole == 1024 && unit + 1 < kUnits.size()) {
    return std::string("1.0 ") + kUnits[unit + 1];  // 1023.96 KiB is 1.0 MiB
  }
  return std::to_string(whole) + "." + std::to_string(tenths) + " " + kUnits[unit];
}

std::optional<std::int64_t> DateSeconds(std::string_view text, std::int32_t zoneSeconds) {
  Cursor cursor(text);
  cursor.SkipSpace();
  Cursor unix = cursor;
  std::int64_t seconds = 0;
  const std::string_view digits = unix.Digits();
  if (!digits.empty() && (unix.AtEnd() || (unix.Take(".") && !unix.Digits().empty()))) {
    unix.SkipSpace();
    return unix.AtEnd() && AppendDigits(seconds, digits) ? InRange(seconds) : std::nullopt;
  }
  std::tm when{};
  std::optional<std::int32_t> zone;
  if (!CalendarDate(cursor, when, zone)) {
    return std::nullopt;
  }
  std::tm normalized = when;
  const std::int64_t local = timegm(&normalized);
  // timegm moves an impossible day forward ("2026-02-30" to March 2): such a date is refused.
  if (!SameFields(when, normalized)) {
    return std::nullopt;
  }
  return InRange(local - zone.value_or(zoneSeconds));
}

std::string ShownDate(std::int64_t seconds) {
  const std::time_t time = seconds;
  std::tm when{};
  gmtime_r(&time, &when);
  char shown[96];
  std::snprintf(shown, sizeof shown, "%04d-%02d-%02dT%02d:%02d:%02dZ", when.tm_year + 1900,
                when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
  return shown;
}

std::optional<std::int64_t> WholeCount(std::string_view text) {
  Cursor cursor(text);
  cursor.SkipSpace();
  const std::optional<std::int64_t> count = GroupedWhole(cursor);
  cursor.SkipSpace();
  return cursor.AtEnd() ? count : std::nullopt;
}

std::vector<UnreadValue> ReadRowNumbers(EntryRow& row, const SiteDefinition& site) {
  std::vector<UnreadValue> unread;
  const auto size = [&site](std::string_view text) {
    return SizeInBytes(text, site.sizeUnitBytes);
  };
  const auto date = [&site](std::string_view text) {
    return DateSeconds(text, site.dateZoneSeconds);
  };
  const auto count = [](std::int64_t n) { return std::to_string(n); };
  ReadValue(row.size, row.sizeBytes,
            "size (a number of bytes, or one with a unit: B, KiB, MiB, GiB, TiB)", size, ShownSize,
            unread);
  ReadValue(row.date, row.dateSeconds,
            "date (Unix seconds, ISO 8601 or RFC 822, in the years 1970 to 9999)", date, ShownDate,
            unread);
  ReadValue(row.seeders, row.seederCount, "count of seeders", WholeCount, count, unread);
  ReadValue(row.leechers, row.leecherCount, "count of leechers", WholeCount, count, unread);
  return unread;
}

}  // namespace mf
