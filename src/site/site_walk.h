// Site layer: walking one site's result pages for one keyword, for any front end: the mirrors
// (tried in order, the one that answered kept), the pages' entries, and when the walk ends early.
//
// One SiteWalk belongs to one thread at a time; walks on different threads are independent (the
// command line walks several sites at once, one walk per worker). A kill of the walking thread
// ends a fetch or a wait at once (platform::ThreadKilled).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "site/page_fetch.h"
#include "site/result_page.h"
#include "site/site_definition.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"

namespace mf {

// The base addresses of a site's mirrors, in the definition's order, each as requests carry it.
// With `replacement` (an address as ParseSiteAddress gives it; the user's --mirror or
// MAGNET_FINDER_SITE), every mirror's scheme, host and port become the replacement's, its path
// kept after the replacement's own path; duplicates go.
std::vector<Text> MirrorBases(const SiteDefinition& site, const Text& replacement = Text());

// The mirror among `bases` that `address` lies on, bases.size() when none: the same scheme, host
// (either case) and port, and the mirror's path or a path below it; of several, the longest path.
std::size_t MirrorOf(const std::vector<Text>& bases, std::string_view address);

// Fetches pages from the first mirror that answers. A mirror is passed over for a page when it
// cannot be reached (name not resolved, connection refused or timed out, TLS failure), or when
// its answer redirects outside the mirrors or in a circle; the one that answered is tried first
// from then on. Redirects are followed here, at most kMaxRedirects. A site with one mirror has
// none to turn to: its pages are fetched as FetchPage does, redirects followed by the request.
// With the site's definition, every request carries its headers and keeps its delay.
class MirrorFetcher {
 public:
  static constexpr int kMaxRedirects = 10;

  explicit MirrorFetcher(std::vector<Text> bases,
                         std::shared_ptr<const SiteDefinition> site = nullptr);

  struct Result {
    FetchedPage page;  // the answer; failed with the last mirror's reason when none answered
    Text address;      // the address that answered (after redirects), or the first one tried
    Text base;         // the mirror it belongs to
    // One line per mirror passed over: "http://a.example: cannot connect (...)". UTF-8.
    std::vector<std::string> passedOver;
  };
  // `addressOn` builds the page's address on a mirror's base.
  Result Fetch(const std::function<Text(const Text& base)>& addressOn);

  // The mirror that answered last (the first mirror before any answer).
  const Text& Current() const { return bases_[current_]; }
  const std::vector<Text>& Bases() const { return bases_; }

 private:
  FetchedPage FetchOne(const Text& address, bool followRedirects) const;

  std::vector<Text> bases_;
  std::shared_ptr<const SiteDefinition> site_;
  std::size_t current_ = 0;
};

// One result page as a walk read it.
struct WalkedPage {
  std::int32_t number = 0;  // the walk's count, from 1
  MirrorFetcher::Result fetch;
  PageEntries entries;
  // The walk ends after this page: the definition's stop-after rule, the answer says it is the
  // last page, or the site has but one.
  bool last = false;
  // The walk ends after this page: the site gave no answer to UnreachableRun::kPages in a row.
  bool unreachable = false;
  // The rows of a page whose rows were all seen before, which ends the walk: they are not the
  // page's rows (`entries.rows` is empty), as they were read from an earlier page.
  std::size_t repeatedRows = 0;
  std::chrono::microseconds took{0};
};

// Ends a walk after kPages pages in a row that got no answer at all (FetchedPage::unreachable):
// a site that cannot be reached costs three pages' time-outs, not a walk's. Any answer, an HTTP
// error too, starts the count again.
class UnreachableRun {
 public:
  static constexpr int kPages = 3;
  // True when the walk ends after `page`.
  bool After(const FetchedPage& page) {
    run_ = page.unreachable ? run_ + 1 : 0;
    return run_ >= kPages;
  }

 private:
  int run_ = 0;
};

// Ends a walk early as the definition's `stop-after` says; the built-in site never does.
class WalkEnd {
 public:
  explicit WalkEnd(const SiteDefinition& site) : site_(site) {}
  // True when the walk ends after a page with these rows (then, when there are any, they were
  // all seen before and are no new rows).
  bool After(const std::vector<EntryRow>& rows);
  // True when the walk ends after this page: a site of one page ends after it whatever came; a
  // page that could not be fetched says nothing of where the results end; else the answer's
  // word that it is the last, or the stop-after rule. Rows that end the walk because every one
  // was seen before (the site repeats a page past its end) are taken out of `entries`: they were
  // read from an earlier page.
  bool After(const FetchedPage& page, PageEntries& entries);

 private:
  const SiteDefinition& site_;
  std::unordered_set<std::string> seen_;
};

class SiteWalk {
 public:
  // `keyword` in UTF-8, sent as the site takes it (SiteKeyword); `pages` the number of pages to
  // walk (the site's own when 0; one for a site of one page, whatever is asked).
  SiteWalk(std::shared_ptr<const SiteDefinition> site, std::vector<Text> bases, Text keyword,
           std::int32_t pages = 0);

  // Reads the next page. Call only while !Done().
  WalkedPage Next();
  // True once every page was read, the definition's stop-after rule ended the walk, or the site
  // could not be reached (WalkedPage::unreachable).
  bool Done() const { return ended_ || next_ > pages_; }

  const SiteDefinition& Site() const { return *site_; }
  std::int32_t Pages() const { return pages_; }

 private:
  std::shared_ptr<const SiteDefinition> site_;
  MirrorFetcher mirrors_;
  Text keyword_;
  std::int32_t pages_;
  std::int32_t next_ = 1;
  bool ended_ = false;
  WalkEnd end_;
  UnreachableRun unreachable_;
  RegExpMatcher matcher_;
  regex markup_;
};

}  // namespace mf
