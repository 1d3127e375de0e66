// Site layer: the numbers in a row's size, date, seeders and leechers as sites write them, and
// the one form each is shown in.
//
// Sites write a size in bytes ("1000981135") or as text ("1.2 GiB", "700 MB", "1&nbsp;GB",
// "5.56GB", "1,234 MB"), every unit a power of 1024, as index sites count; a date as Unix
// seconds, ISO 8601 ("2026-09-01", "2026-09-01T12:49:05.123+08:00"), RFC 822 ("Mon, 01 Sep 2026
// 12:00:00 -0000", also "Tue,1 Sep 2026 12:49:02 GMT") or "2026/09/01 12:49"; a count with
// thousands separators ("1,234"). Every such text is untrusted: a value that 63 bits cannot hold,
// a negative one, a date outside the years 1970 to 9999 or any other text reads as no number.
// Reading is ASCII only (and the UTF-8 no-break space), so the text may be UTF-8 or code page
// 936 alike. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/result_page.h"
#include "site/site_definition.h"
#include "support/text_types.h"

namespace mf {

// The bytes of a size; a bare number counts `bareUnitBytes` each (1 for bytes, 1024 for KiB).
std::optional<std::int64_t> SizeInBytes(std::string_view text, std::int64_t bareUnitBytes);
// "512 B" below 1 KiB, else one decimal in the largest unit that keeps it at 1 or more:
// "1.2 GiB", "700.0 MiB".
std::string ShownSize(std::int64_t bytes);

// The seconds since 1970-01-01 UTC of a date; one written without a zone is taken to be
// `zoneSeconds` ahead of UTC.
std::optional<std::int64_t> DateSeconds(std::string_view text, std::int32_t zoneSeconds);
// ISO 8601 in UTC: "2026-09-01T04:00:00Z".
std::string ShownDate(std::int64_t seconds);

// A whole number of zero or more.
std::optional<std::int64_t> WholeCount(std::string_view text);

// A field of a row whose text reads as no number, and what it should have been ("size (...)").
struct UnreadValue {
  Text text;
  std::string what;
};

// Reads the row's size, date, seeders and leechers (as `site` counts bare sizes and dates without
// a zone) into its numbers, each text replaced by the form it is shown in. A text that reads as
// no number stays as it is, its number absent, and is returned.
std::vector<UnreadValue> ReadRowNumbers(EntryRow& row, const SiteDefinition& site);

}  // namespace mf
