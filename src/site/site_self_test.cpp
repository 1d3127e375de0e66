#include "site/site_self_test.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <utility>
#include <variant>

#include "platform/printable_text.h"
#include "site/detail_page.h"
#include "site/page_fetch.h"
#include "site/result_page.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"
#include "support/text_ops.h"
#include "support/threads.h"
#include "support/utf8_pattern.h"

namespace mf {
namespace {

constexpr std::size_t kDifferencesShown = 5;
constexpr std::size_t kMostSavedPageBytes = std::size_t{64} << 20;

using Outcome = SiteTestOutcome;

std::string Quoted(std::string_view text) {
  return "\"" + platform::PrintableText(text) + "\"";
}

// An address the definition's mirror went into, its password (if the mirror names one) hidden.
std::string QuotedAddress(std::string_view address) {
  return Quoted(platform::AddressWithoutPassword(address));
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) {
      close(fd_);
    }
    fd_ = fd;
  }

 private:
  int fd_;
};

// The saved page at `relative` beneath `folder`, or why it cannot be read. A definition comes
// from anyone, so the page is opened one name at a time beneath the folder, no symbolic link
// followed; only a regular file of at most kMostSavedPageBytes is read (a device, a FIFO or a
// sparse giant is refused before any byte of it is read).
std::variant<Bytes, std::string> ReadSavedPage(const std::string& folder,
                                               const std::string& relative) {
  Descriptor at(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (at.get() < 0) {
    return std::string("the definition's folder cannot be opened: ") + std::strerror(errno);
  }
  std::vector<std::string> names;
  std::istringstream parts(relative);
  for (std::string name; std::getline(parts, name, '/');) {
    if (!name.empty()) {
      names.push_back(name);
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    const bool last = i + 1 == names.size();
    // O_NONBLOCK: opening a FIFO to read does not wait for a writer.
    const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NONBLOCK : O_DIRECTORY);
    const int fd = openat(at.get(), names[i].c_str(), flags);
    if (fd < 0) {
      return errno == ELOOP || errno == ENOTDIR
                 ? "'" + names[i] + "' is a symbolic link (not followed) or no folder"
                 : std::string(std::strerror(errno));
    }
    at.Reset(fd);
  }
  struct stat status {};
  if (names.empty() || fstat(at.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::string("not a regular file");
  }
  if (static_cast<std::uint64_t>(status.st_size) > kMostSavedPageBytes) {
    return "larger than " + std::to_string(kMostSavedPageBytes >> 20) + " MiB";
  }
  std::string content(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t got = 0;
  // Up to one byte past the size: a file that grew since is read to the cap and refused.
  content.resize(content.size() + 1);
  while (got < content.size() && got <= kMostSavedPageBytes) {
    const ssize_t n = read(at.get(), content.data() + got, content.size() - got);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return std::string(std::strerror(errno));
    }
    if (n == 0) {
      break;
    }
    got += static_cast<std::size_t>(n);
    if (got == content.size() && got <= kMostSavedPageBytes) {
      content.resize(std::min(content.size() * 2, kMostSavedPageBytes + 1));
    }
  }
  if (got > kMostSavedPageBytes) {
    return "larger than " + std::to_string(kMostSavedPageBytes >> 20) + " MiB";
  }
  content.resize(got);
  return Bytes(std::move(content));
}

// True when `text` starts a magnet link ("magnet:", any case).
bool IsMagnetText(std::string_view text) {
  constexpr std::string_view kScheme = "magnet:";
  return text.size() >= kScheme.size() &&
         std::equal(kScheme.begin(), kScheme.end(), text.begin(),
                    [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b + 32 : b); });
}

// True when `utf8` may be a link that a detail address is built from: no white space, quotes or
// markup, and a path, a file, a query or a number ('/', '.', '?', '=' or a digit) in it.
bool CouldBeLink(std::string_view utf8) {
  const auto in = [&](std::string_view set) {
    return utf8.find_first_of(set) != std::string_view::npos;
  };
  const bool unsafe = std::any_of(utf8.begin(), utf8.end(),
                                  [](char c) { return static_cast<unsigned char>(c) <= ' '; });
  return !unsafe && !in("<>\"'`") && in("/.?=0123456789");
}

// Each match's link and magnet groups (empty for a group the site has not), through the engine
// that reads the site's text: the matcher for the built-in site, the UTF-8 one for the others.
std::vector<std::pair<Text, Text>> LinksAndMagnets(RegExpMatcher& matcher, const Text& pageText,
                                                   const SiteDefinition& site,
                                                   std::int32_t magnetGroup) {
  std::vector<std::pair<Text, Text>> found;
  if (site.programText) {
    matcher.Search(site.entryPattern, pageText);
    for (std::int32_t i = 1; i <= matcher.MatchCount(); ++i) {
      found.emplace_back(site.linkGroup > 0 ? matcher.SubMatchText(i, site.linkGroup) : Text(),
                         magnetGroup > 0 ? matcher.SubMatchText(i, magnetGroup) : Text());
    }
    return found;
  }
  const platform::MatchBudget budget;
  const auto group = [](const std::vector<Text>& groups, std::int32_t number) {
    return number > 0 && static_cast<std::size_t>(number) < groups.size()
               ? groups[static_cast<std::size_t>(number)]
               : Text();
  };
  for (const std::vector<Text>& groups : FindAllUtf8(site.entryPattern, pageText, budget).matches) {
    found.emplace_back(group(groups, site.linkGroup), group(groups, magnetGroup));
  }
  return found;
}

// The differences between two lists, the first few of them, one line each.
template <typename Item, typename Show>
std::vector<std::string> Differences(const std::vector<Item>& expected,
                                     const std::vector<Item>& got, const char* what, Show show) {
  std::vector<std::string> lines;
  if (expected.size() != got.size()) {
    lines.push_back("expected " + std::to_string(expected.size()) + " " + what + ", got " +
                    std::to_string(got.size()));
  }
  std::size_t shown = 0;
  for (std::size_t i = 0; i < std::max(expected.size(), got.size()); ++i) {
    const bool same = i < expected.size() && i < got.size() && expected[i] == got[i];
    if (same) {
      continue;
    }
    if (shown++ == kDifferencesShown) {
      lines.push_back("...");
      break;
    }
    const std::string number = std::to_string(i + 1);
    lines.push_back(number + ": expected " + (i < expected.size() ? show(expected[i]) : "nothing"));
    lines.push_back(std::string(number.size(), ' ') + "       got " +
                    (i < got.size() ? show(got[i]) : "nothing"));
  }
  return lines;
}

std::string ShowRow(const SiteTest::Row& row) {
  std::string shown = "[" + Quoted(row.title) + ", " + QuotedAddress(row.address);
  for (std::size_t i = 0; i < kRowFieldCount; ++i) {
    if (!row.fields[i].empty()) {
      shown +=
          std::string(", ") + RowFieldName(static_cast<RowField>(i)) + ": " + Quoted(row.fields[i]);
    }
  }
  return shown + "]";
}

Outcome AddressTest(const SiteDefinition& site, const SiteTest& test) {
  const std::string got = TestAddress(site, test.keyword, test.page);
  if (got == test.address) {
    return {&test, Outcome::Result::kPassed, {}};
  }
  return {&test,
          Outcome::Result::kFailed,
          {"address: expected " + QuotedAddress(test.address),
           "              got " + QuotedAddress(got)}};
}

Outcome PageTest(const SiteDefinition& site, const SiteTest& test, RegExpMatcher& matcher,
                 regex& markup) {
  if (site.folder.empty()) {
    return {&test, Outcome::Result::kSkipped, {"no folder to read " + test.savedPage + " from"}};
  }
  const std::variant<Bytes, std::string> read = ReadSavedPage(site.folder, test.savedPage);
  if (const auto* why = std::get_if<std::string>(&read)) {
    return {&test,
            Outcome::Result::kFailed,
            {"cannot read " + platform::PrintableText(test.savedPage) + ": " +
             platform::PrintableText(*why)}};
  }
  const Bytes* body = &std::get<Bytes>(read);
  std::vector<std::string> lines;
  if (test.kind == SiteTest::Kind::kDetailPage) {
    lines = Differences(test.magnets, SavedPageMagnets(site, matcher, *body, test.charset),
                        "magnet links", Quoted);
  } else {
    const PageEntries entries = SavedPageEntries(site, matcher, markup, *body, test.charset);
    lines =
        Differences(test.rows, RowsAsTested(entries.rows, test.fullRows, site), "rows", ShowRow);
    if (!lines.empty()) {
      for (const std::string& problem : entries.problems) {
        lines.push_back("page problem: " + problem);
      }
    }
  }
  return {&test, lines.empty() ? Outcome::Result::kPassed : Outcome::Result::kFailed,
          std::move(lines)};
}

}  // namespace

std::vector<SiteTest::Row> RowsAsTested(const std::vector<EntryRow>& rows, bool fullRows,
                                        const SiteDefinition& site) {
  const auto Utf8 = [&](const Text& text) { return SiteTextToUtf8(text, site); };
  std::vector<SiteTest::Row> tested;
  tested.reserve(rows.size());
  for (const EntryRow& row : rows) {
    SiteTest::Row& out = tested.emplace_back();
    out.title = Utf8(row.title);
    out.address = Utf8(row.address);
    if (fullRows) {
      const Text* fields[kRowFieldCount] = {&row.magnet, nullptr,      &row.size,
                                            &row.date,   &row.seeders, &row.leechers};
      for (std::size_t i = 0; i < kRowFieldCount; ++i) {
        out.fields[i] = fields[i] != nullptr ? Utf8(*fields[i]) : row.infoHash;
      }
    }
  }
  return tested;
}

std::string TestAddress(const SiteDefinition& site, const std::string& keyword, std::int32_t page) {
  return SiteTextToUtf8(
      ResultPageAddress(site, Text(site.mirrors.front()), SiteKeyword(keyword, site), ToText(page)),
      site);
}

PageEntries SavedPageEntries(const SiteDefinition& site, RegExpMatcher& matcher, regex& markup,
                             const Bytes& body, const std::string& charset) {
  return ReadEntries(matcher, markup, SitePageText(body, site, charset), site,
                     Text(site.mirrors.front()));
}

std::vector<std::string> SavedPageMagnets(const SiteDefinition& site, RegExpMatcher& matcher,
                                          const Bytes& body, const std::string& charset) {
  std::vector<std::string> links;
  for (const Text& link : FindMagnetLinks(matcher, SitePageText(body, site, charset), site)) {
    links.push_back(SiteTextToUtf8(link, site));
  }
  return links;
}

std::vector<SiteProblem> SavedPageCaptureWarnings(const SiteDefinition& site) {
  std::vector<SiteProblem> warnings;
  if (site.pageFormat != PageFormat::kHtml || site.folder.empty()) {
    return warnings;
  }
  const ComApartmentScope apartment;
  RegExpMatcher matcher;
  for (const SiteTest& test : site.tests) {
    if (test.kind == SiteTest::Kind::kAddress) {
      continue;
    }
    const std::variant<Bytes, std::string> read = ReadSavedPage(site.folder, test.savedPage);
    if (!std::holds_alternative<Bytes>(read)) {
      continue;
    }
    const Text pageText = SitePageText(std::get<Bytes>(read), site, test.charset);
    const auto warn = [&](const std::string& group, const Text& captured, const char* cannot) {
      warnings.push_back({SiteProblem::Severity::kWarning, site.file, test.line, test.column,
                          group + " captures " + Quoted(SiteTextToUtf8(captured, site)) + " on " +
                              platform::PrintableText(test.savedPage) + ", which " + cannot +
                              ": is it the right group?"});
    };
    if (test.kind == SiteTest::Kind::kDetailPage) {
      for (const Text& link : FindMagnetLinks(matcher, pageText, site)) {
        if (!IsMagnetText(link.view())) {
          warn("'magnet-group' " + std::to_string(site.magnetGroup), link, "is no magnet link");
          break;
        }
      }
      continue;
    }
    const std::int32_t magnetGroup = site.fieldGroups[static_cast<std::size_t>(RowField::kMagnet)];
    bool linkWarned = false;
    bool magnetWarned = false;
    for (const auto& [link, magnet] : LinksAndMagnets(matcher, pageText, site, magnetGroup)) {
      if (linkWarned && magnetWarned) {
        break;
      }
      if (!linkWarned && site.linkGroup > 0 && !CouldBeLink(SiteTextToUtf8(link, site))) {
        warn("'link-group' " + std::to_string(site.linkGroup), link, "cannot be a link");
        linkWarned = true;
      }
      // A row may have no magnet of its own (an empty group); one it has must be a link.
      if (!magnetWarned && !magnet.empty() && !IsMagnetText(magnet.view())) {
        warn("'magnet-group' " + std::to_string(magnetGroup), magnet, "is no magnet link");
        magnetWarned = true;
      }
    }
  }
  return warnings;
}

std::vector<SiteTestOutcome> RunSiteTests(const SiteDefinition& site) {
  const ComApartmentScope apartment;
  RegExpMatcher matcher;
  regex markup;
  std::vector<SiteTestOutcome> outcomes;
  for (const SiteTest& test : site.tests) {
    outcomes.push_back(test.kind == SiteTest::Kind::kAddress
                           ? AddressTest(site, test)
                           : PageTest(site, test, matcher, markup));
  }
  return outcomes;
}

}  // namespace mf
