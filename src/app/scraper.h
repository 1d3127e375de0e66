// Turning one result page of the search site into rows of the result list.
#pragma once

#include "support/text_types.h"

namespace mf {

// Fetches result page `page` (decimal digits) for `keyword` and appends one row per entry to
// 超级列表框1. Runs on the search worker.
void ScrapeResultPage(const Text& keyword, const Text& page);

}  // namespace mf
