// Turning one result page of the search site into rows of the result list.
#pragma once

#include <mutex>

#include "support/text_types.h"

namespace mf {

// Fetches result page `page` (decimal digits) for `keyword` and appends one row per entry to
// 超级列表框1: its running number, its title without the highlight markup, and its detail-page
// address. Runs on the search worker. False when the page could not be fetched (no response, an
// error status, an empty page): such a page adds no row, unless its error page holds entries.
bool ScrapeResultPage(const Text& keyword, const Text& page);

// PageText, MarkupPattern and EntryMatcher are shared by the search worker and the magnet
// threads. Each holds this lock from the moment it stores a fetched page until it has read the
// last match, so the two never see each other's page or matches. The fetch itself runs outside
// the lock: downloads overlap, the matching takes turns. Nothing on the UI thread takes it.
extern std::mutex PageWorkLock;

}  // namespace mf
