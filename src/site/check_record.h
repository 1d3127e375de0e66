// Site layer: the last verdict of each site's live check (site_check.h), kept for the user in
// $XDG_CACHE_HOME/magnet-finder/site-checks.json (by default ~/.cache/magnet-finder/): written by
// `magnet-finder-cli sites check`, read by `sites` and the window's site menu.
//
// The file is read as untrusted: one that is missing, too large, unreadable or not in this shape
// counts as no record, and an entry without a known verdict as no entry; nothing in it stops a
// program. It is written whole under a temporary name, mode 0600, and renamed over the old one
// (two programs writing at once: the last one's records stand). Any thread; no shared state.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "site/site_check.h"

namespace mf {

struct CheckRecord {
  CheckVerdict verdict = CheckVerdict::kUnreachable;
  std::int64_t at = 0;  // when, in seconds since 1970-01-01 UTC
};
using CheckRecords = std::map<std::string, CheckRecord>;  // by site id

// The file; empty when neither XDG_CACHE_HOME (absolute) nor HOME says where.
std::string CheckRecordFile();

// The records in `file`; none when it cannot be read as records.
CheckRecords ReadCheckRecords(const std::string& file = CheckRecordFile());

// Writes `checked` into `file`, over the records of the same sites and beside the others, creating
// its folder (0700) when missing. An error line naming the file when it cannot be written; empty
// when it was.
std::string WriteCheckRecords(const CheckRecords& checked,
                              const std::string& file = CheckRecordFile());

// `at` as ISO 8601 UTC: "2026-09-01T12:00:00Z".
std::string CheckTime(std::int64_t at);

}  // namespace mf
