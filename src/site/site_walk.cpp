#include "site/site_walk.h"

#include <algorithm>
#include <set>

#include "platform/printable_text.h"
#include "platform/threads.h"
#include "site/site_address.h"
#include "site/site_check.h"
#include "support/text_ops.h"
#include "web/web_address.h"

namespace mf {
namespace {

// Where the scheme, host and port of an address end: its path starts there.
std::size_t PathStart(std::string_view address) {
  const std::size_t scheme = address.find("://");
  const std::size_t authority = scheme == std::string_view::npos ? 0 : scheme + 3;
  const std::size_t path = address.find_first_of("/?#", authority);
  return path == std::string_view::npos ? address.size() : path;
}

std::string Shown(const Text& address) {
  return platform::AddressWithoutPassword(std::string(address.view()));
}

}  // namespace

std::size_t MirrorOf(const std::vector<Text>& bases, std::string_view address) {
  const std::optional<AddressParts> at = PartsOfAddress(address);
  std::size_t found = bases.size();
  std::size_t foundLength = 0;
  for (std::size_t i = 0; at && i < bases.size(); ++i) {
    const std::optional<AddressParts> base = PartsOfAddress(bases[i].view());
    if (!base || base->scheme != at->scheme || base->host != at->host || base->port != at->port) {
      continue;
    }
    // The base's path or one below it: "/new" holds "/new" and "/new/p", not "/newer".
    const std::string_view path = base->path;
    const std::string_view folder = path.substr(0, path.find_last_not_of('/') + 1);
    const bool under = at->path.starts_with(folder) &&
                       (at->path.size() == folder.size() || at->path[folder.size()] == '/');
    if (under && (found == bases.size() || folder.size() > foundLength)) {
      found = i;
      foundLength = folder.size();
    }
  }
  return found;
}

std::vector<Text> MirrorBases(const SiteDefinition& site, const Text& replacement) {
  std::vector<Text> bases;
  for (const std::string& mirror : site.mirrors) {
    Text base(mirror);
    if (!replacement.empty()) {
      base = Text(std::string(replacement.view()) + mirror.substr(PathStart(mirror)));
    }
    if (std::find(bases.begin(), bases.end(), base) == bases.end()) {
      bases.push_back(base);
    }
  }
  if (bases.empty()) {
    bases.push_back(replacement);
  }
  return bases;
}

MirrorFetcher::MirrorFetcher(std::vector<Text> bases, std::shared_ptr<const SiteDefinition> site)
    : bases_(std::move(bases)), site_(std::move(site)) {
  if (bases_.empty()) {
    bases_.emplace_back();
  }
}

FetchedPage MirrorFetcher::FetchOne(const Text& address, bool followRedirects) const {
  if (site_) {
    return followRedirects ? FetchPage(address, *site_) : FetchPageNoRedirects(address, *site_);
  }
  return followRedirects ? FetchPage(address) : FetchPageNoRedirects(address);
}

MirrorFetcher::Result MirrorFetcher::Fetch(const std::function<Text(const Text& base)>& addressOn) {
  Result result;
  if (bases_.size() == 1) {
    // No other mirror to turn to: the request follows redirects itself, as it always has.
    result.base = bases_.front();
    result.address = addressOn(result.base);
    result.page = FetchOne(result.address, true);
    return result;
  }
  std::size_t unreachable = 0;  // mirrors that gave no answer at all
  std::vector<std::size_t> order = {current_};
  for (std::size_t i = 0; i < bases_.size(); ++i) {
    if (i != current_) {
      order.push_back(i);
    }
  }
  for (const std::size_t mirror : order) {
    Text address = addressOn(bases_[mirror]);
    if (result.address.empty()) {
      result.address = address;
      result.base = bases_[mirror];
    }
    std::set<std::string> visited = {std::string(address.view())};
    std::string passed;
    for (int hop = 0; passed.empty(); ++hop) {
      FetchedPage page = FetchOne(address, false);
      platform::UnwindIfKilled();
      if (page.unreachable) {
        ++unreachable;
        passed = page.failure;
      } else if (page.location.empty()) {
        // The mirror the last redirect led to answered (the one tried, when none led elsewhere).
        const std::size_t answered = MirrorOf(bases_, address.view());
        current_ = answered < bases_.size() ? answered : mirror;
        result.page = std::move(page);
        result.address = address;
        result.base = bases_[current_];
        return result;
      } else {
        const std::string target =
            ResolveReference(address.view(), page.location).value_or(page.location);
        if (!WebAddressProblem(target).empty() || MirrorOf(bases_, target) == bases_.size()) {
          passed = "redirects outside the mirrors, to " + Shown(Text(target));
        } else if (!visited.insert(target).second) {
          passed = "redirects in a circle, back to " + Shown(Text(target));
        } else if (hop == kMaxRedirects) {
          passed = "more than " + std::to_string(kMaxRedirects) + " redirects";
        }
        address = Text(target);
      }
      if (!passed.empty()) {
        result.page = std::move(page);
      }
    }
    result.passedOver.push_back(Shown(bases_[mirror]) + ": " + passed);
  }
  // No mirror answered: the page failed with the last one's reason, and got no answer at all
  // only when none of them answered.
  result.page.unreachable = unreachable == bases_.size();
  result.page.failure =
      result.passedOver.size() == 1
          ? result.passedOver.front().substr(result.passedOver.front().find(": ") + 2)
          : "no mirror answered (" + result.passedOver.back() + ")";
  result.page.location.clear();
  return result;
}

bool WalkEnd::After(const std::vector<EntryRow>& rows) {
  if (rows.empty()) {
    return site_.stopAfterNoEntries;
  }
  bool allSeen = true;
  for (const EntryRow& row : rows) {
    const std::string key = !row.infoHash.empty()  ? row.infoHash
                            : !row.address.empty() ? "a" + std::string(row.address.view())
                            : !row.magnet.empty()  ? "m" + std::string(row.magnet.view())
                                                   : "t" + std::string(row.title.view());
    allSeen = !seen_.insert(key).second && allSeen;
  }
  return site_.stopAfterSeenEntries && allSeen;
}

bool WalkEnd::After(const FetchedPage& page, PageEntries& entries) {
  if (site_.OnePage()) {
    return true;
  }
  if (page.Failed()) {
    return false;
  }
  if (entries.rows.empty() && entries.listed > 0) {
    return entries.lastPage;  // items, none of them a torrent: not yet past the last page
  }
  if (After(entries.rows)) {
    entries.rows.clear();  // none, or every one seen before
    return true;
  }
  return entries.lastPage;
}

SiteWalk::SiteWalk(std::shared_ptr<const SiteDefinition> site, std::vector<Text> bases,
                   Text keyword, std::int32_t pages)
    : site_(std::move(site)),
      mirrors_(std::move(bases), site_),
      keyword_(SiteKeyword(keyword.view(), *site_)),
      pages_(site_->PagesToWalk(pages)),
      end_(*site_) {}

WalkedPage SiteWalk::Next() {
  const auto start = std::chrono::steady_clock::now();
  WalkedPage page;
  page.number = next_++;
  const Text number = ToText(page.number);
  page.fetch = mirrors_.Fetch(
      [&](const Text& base) { return ResultPageAddress(*site_, base, keyword_, number); });
  FetchedPage& fetched = page.fetch.page;
  FailIfNotTheSite(fetched, *site_);
  // A page that failed has no entries; the built-in site alone reads its error pages as pages.
  if (!fetched.Failed() || site_->programText) {
    const Text text = SitePageText(fetched.body, *site_, fetched.charset);
    page.entries = ReadEntries(matcher_, markup_, text, *site_, page.fetch.base);
  }
  const std::size_t read = page.entries.rows.size();
  page.last = end_.After(fetched, page.entries);
  page.repeatedRows = read - page.entries.rows.size();
  page.unreachable = unreachable_.After(fetched);
  ended_ = page.last || page.unreachable;
  page.took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  return page;
}

}  // namespace mf
