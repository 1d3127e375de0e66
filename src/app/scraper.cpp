#include "app/scraper.h"

namespace mf {

void ScrapeResultPage(const Text& keyword, const Text& page) {
  // The page scraping goes here: fetch, convert, match the entries and append their rows.
  (void)keyword;
  (void)page;
}

}  // namespace mf
