#include "cli/site_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "cli/stoppable_run.h"
#include "platform/printable_text.h"
#include "platform/threads.h"
#include "site/detail_page.h"
#include "site/page_diagnosis.h"
#include "site/page_fetch.h"
#include "site/site_address.h"
#include "site/site_catalogue.h"
#include "site/site_self_test.h"
#include "site/site_test_writer.h"
#include "site/site_walk.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"
#include "support/threads.h"

namespace mf::cli {
namespace {

constexpr int kLabelWidth = 13;
constexpr std::size_t kMagnetsShown = 3;
constexpr int kUsage = 2;

// A write to the output failed: the command ends at once.
struct OutputFailed {
  int error;  // errno
};

// A file of --save could not be written: the command ends with this line.
struct SaveFailed {
  std::string line;
};

std::string Utf8(const Text& text) {
  return GbkToUtf8(text).str();
}

// What a site sent, in the site's text (result_page.h), fit for the terminal.
std::string Shown(const Text& text, const SiteDefinition& site) {
  return platform::PrintableText(SiteTextToUtf8(text, site));
}

std::string ShownAddress(const Text& address) {
  return platform::PrintableText(platform::AddressWithoutPassword(Utf8(address)));
}

// The probe's report on stdout: headings and aligned "label  text" lines.
class Report {
 public:
  explicit Report(std::FILE* out) : out_(out) {}

  void Write(const std::string& text) {
    platform::UnwindIfKilled();
    const OutputWriteScope writing;
    if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() || std::fflush(out_) != 0) {
      throw OutputFailed{errno};
    }
  }
  void Line(const std::string& label, const std::string& text) {
    std::string line = "  " + label;
    line.resize(std::max<std::size_t>(line.size() + 1, kLabelWidth + 2), ' ');
    Write(line + text + "\n");
  }

 private:
  std::FILE* out_;
};

// The name ending of a saved result page, after the site's page format.
const char* SavedExtension(const SiteDefinition& site) {
  switch (site.pageFormat) {
    case PageFormat::kJson:
      return ".json";
    case PageFormat::kXml:
      return ".xml";
    case PageFormat::kHtml:
      break;
  }
  return ".html";
}

std::string Milliseconds(std::chrono::microseconds took) {
  return std::to_string((took.count() + 500) / 1000) + " ms";
}

// The answer's status line: "200", "404", or why no answer came.
std::string StatusOf(const FetchedPage& page) {
  if (page.status == 0) {
    return "none: " + platform::PrintableText(page.failure.empty() ? "no answer" : page.failure);
  }
  const std::string status = std::to_string(page.status);
  const bool saysMore = page.Failed() && page.failure != "HTTP " + status;
  return saysMore ? status + " (" + platform::PrintableText(page.failure) + ")" : status;
}

void ShowAnswer(Report& report, const FetchedPage& page, PageEncoding encoding,
                std::chrono::microseconds took) {
  report.Line("status", StatusOf(page));
  report.Line("bytes", std::to_string(page.body.size()));
  if (!page.contentType.empty()) {
    report.Line("content-type", platform::PrintableText(page.contentType));
  }
  report.Line("read as", PageReading(encoding, page.charset));
  report.Line("took", Milliseconds(took));
}

void ShowRow(Report& report, const EntryRow& row, const SiteDefinition& site) {
  report.Line("first row", Shown(row.title, site));
  const std::pair<const char*, const Text*> fields[] = {
      {"address", &row.address}, {"magnet", &row.magnet},   {"size", &row.size},
      {"date", &row.date},       {"seeders", &row.seeders}, {"leechers", &row.leechers}};
  for (const auto& [label, value] : fields) {
    if (!value->empty()) {
      report.Line(label,
                  label == std::string("address") ? ShownAddress(*value) : Shown(*value, site));
    }
    if (label == std::string("magnet") && !row.infoHash.empty()) {
      report.Line("hash", row.infoHash);
    }
  }
}

// The definition's text as its file holds it (the built-in one: as installed).
std::optional<std::string> DefinitionText(const SiteDefinition& site) {
  if (site.file == "built-in") {
    return std::string(BuiltInSiteText());
  }
  std::ifstream in(site.file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in || text.str().size() > kMaxDefinitionBytes) {
    return std::nullopt;
  }
  return text.str();
}

// The folder of --save: DIR, created 0755 when missing, and DIR/<id> for the pages. The pages are
// written into a staging folder beside DIR/<id> and moved into it only when all of them are
// written, then the definition is written under a temporary name and renamed; so a failure
// part-way leaves nothing behind, and a link in the folder is replaced, never followed. Without
// --force an existing file is never replaced.
class SaveFolder {
 public:
  SaveFolder(std::string dir, const std::string& id, bool force)
      : dir_(std::move(dir)),
        id_(id),
        stage_("." + id + ".part-" + std::to_string(getpid())),
        force_(force) {}
  ~SaveFolder() {
    if (stageFd_ >= 0) {  // not committed: what was staged goes
      for (const std::string& name : staged_) {
        unlinkat(stageFd_, name.c_str(), 0);
      }
      unlinkat(dirFd_, stage_.c_str(), AT_REMOVEDIR);
    }
    for (const int fd : {stageFd_, pagesFd_, dirFd_}) {
      if (fd >= 0) {
        close(fd);
      }
    }
  }
  SaveFolder(const SaveFolder&) = delete;
  SaveFolder& operator=(const SaveFolder&) = delete;

  // Opens (or creates) DIR and the staging folder; throws SaveFailed naming the first of `names`
  // (relative to DIR) that exists when it may not be replaced.
  void Open(const std::vector<std::string>& names) {
    if (mkdir(dir_.c_str(), 0755) != 0 && errno != EEXIST) {
      Fail(dir_, "cannot create the folder");
    }
    dirFd_ = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) {
      Fail(dir_, "cannot open the folder");
    }
    struct stat status {};
    if (fstatat(dirFd_, id_.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(status.st_mode)) {
      errno = S_ISLNK(status.st_mode) ? ELOOP : ENOTDIR;
      Fail(Path(id_), "cannot open the folder (a link is not followed)");
    }
    for (const std::string& name : names) {
      if (!force_ && fstatat(dirFd_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        throw SaveFailed{Path(name) + ": the file exists (--force replaces it)"};
      }
    }
    if (mkdirat(dirFd_, stage_.c_str(), 0700) != 0) {
      Fail(Path(stage_), "cannot create the folder");
    }
    stageFd_ = openat(dirFd_, stage_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (stageFd_ < 0) {
      Fail(Path(stage_), "cannot open the folder");
    }
  }

  // Writes `bytes` as page `name` into the staging folder.
  void WritePage(const std::string& name, std::string_view bytes) {
    WriteFile(stageFd_, name, id_ + "/" + name, bytes);
    staged_.push_back(name);
  }

  // Moves the staged pages into DIR/<id>, then writes the definition as DIR/`name`.
  void Commit(const std::string& name, std::string_view definition) {
    if (mkdirat(dirFd_, id_.c_str(), 0755) != 0 && errno != EEXIST) {
      Fail(Path(id_), "cannot create the folder");
    }
    pagesFd_ = openat(dirFd_, id_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (pagesFd_ < 0) {
      Fail(Path(id_), "cannot open the folder (a link is not followed)");
    }
    struct stat status {};
    for (const std::string& page : staged_) {  // all checked before any is moved
      if (!force_ && fstatat(pagesFd_, page.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        throw SaveFailed{Path(id_ + "/" + page) + ": the file exists (--force replaces it)"};
      }
    }
    for (const std::string& page : staged_) {
      if (renameat2(stageFd_, page.c_str(), pagesFd_, page.c_str(),
                    force_ ? 0 : RENAME_NOREPLACE) != 0) {
        Fail(Path(id_ + "/" + page),
             errno == EEXIST ? "the file exists (--force replaces it)" : "cannot write the file");
      }
    }
    staged_.clear();
    unlinkat(dirFd_, stage_.c_str(), AT_REMOVEDIR);
    close(stageFd_);
    stageFd_ = -1;
    const std::string temporary = "." + name + ".part-" + std::to_string(getpid());
    WriteFile(dirFd_, temporary, name, definition);
    if (renameat2(dirFd_, temporary.c_str(), dirFd_, name.c_str(), force_ ? 0 : RENAME_NOREPLACE) !=
        0) {
      const int error = errno;
      unlinkat(dirFd_, temporary.c_str(), 0);
      errno = error;
      Fail(Path(name),
           error == EEXIST ? "the file exists (--force replaces it)" : "cannot write the file");
    }
  }

  std::string Path(const std::string& name) const {
    return dir_ + (dir_.ends_with('/') ? "" : "/") + name;
  }

 private:
  [[noreturn]] void Fail(const std::string& path, const std::string& what) const {
    throw SaveFailed{platform::PrintableText(path) + ": " + what + ": " + std::strerror(errno)};
  }

  // Writes `bytes` as the new file `name` of `folder`; `shown` names it in an error.
  void WriteFile(int folder, const std::string& name, const std::string& shown,
                 std::string_view bytes) const {
    const int fd =
        openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      Fail(Path(shown), "cannot write the file");
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        const int error = errno;
        close(fd);
        unlinkat(folder, name.c_str(), 0);
        errno = error;
        Fail(Path(shown), "cannot write the file");
      }
      written += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0) {
      const int error = errno;
      unlinkat(folder, name.c_str(), 0);
      errno = error;
      Fail(Path(shown), "cannot write the file");
    }
  }

  std::string dir_;
  std::string id_;
  std::string stage_;  // the staging folder's name in DIR
  bool force_;
  int dirFd_ = -1;
  int pagesFd_ = -1;
  int stageFd_ = -1;
  std::vector<std::string> staged_;  // the pages written into it
};

// A page that the probe fetched, kept for --save.
struct KeptPage {
  std::string name;  // inside DIR/<id>
  Bytes body;
  std::string charset;
  bool detail = false;
};

class Probe {
 public:
  Probe(const CliOptions& options, std::shared_ptr<const SiteDefinition> site, Text replacement,
        Report& report)
      : options_(options),
        site_(std::move(site)),
        replacement_(std::move(replacement)),
        report_(report) {}

  // Walks the pages, then the detail page; true when every page gave entries.
  bool Run() {
    SiteWalk walk(site_, MirrorBases(*site_, replacement_), Text(options_.keyword), options_.pages);
    bool allGaveEntries = true;
    while (!walk.Done()) {
      const WalkedPage page = walk.Next();
      allGaveEntries = ShowPage(page, walk.Pages()) && allGaveEntries;
      if (page.last && page.number < walk.Pages()) {
        report_.Write(page.entries.lastPage
                          ? "the walk ends here: the answer says it is the last page\n\n"
                          : "the walk ends here, as the definition's stop-after says\n\n");
      }
    }
    ShowDetail();
    return allGaveEntries;
  }

  const std::vector<KeptPage>& Kept() const { return kept_; }

 private:
  bool ShowPage(const WalkedPage& walked, std::int32_t pages) {
    const FetchedPage& page = walked.fetch.page;
    report_.Write("page " + std::to_string(walked.number) + " of " + std::to_string(pages) + "\n");
    report_.Line("address", ShownAddress(walked.fetch.address));
    report_.Line("mirror", ShownAddress(walked.fetch.base));
    for (const std::string& line : walked.fetch.passedOver) {
      report_.Line("passed over", platform::PrintableText(line));
    }
    ShowAnswer(report_, page, site_->pageEncoding, walked.took);
    const std::vector<EntryRow>& rows = walked.entries.rows;
    report_.Line("entries", walked.repeatedRows == 0
                                ? std::to_string(rows.size())
                                : "none new: its " + std::to_string(walked.repeatedRows) +
                                      " rows were all on earlier pages");
    if (!page.Failed()) {
      kept_.push_back({"result-page-" + std::to_string(walked.number) + SavedExtension(*site_),
                       page.body, page.charset, false});
    }
    if (walked.repeatedRows > 0) {
      report_.Write("\n");
      return true;
    }
    if (!rows.empty()) {
      if (!firstRow_) {
        firstRow_ = rows.front();
      }
      ShowRow(report_, rows.front(), *site_);
    } else {
      const Text pageText = SitePageText(page.body, *site_, page.charset);
      for (const PageFinding& finding : DiagnoseEmptyPage(page, pageText, *site_)) {
        report_.Line(finding.label, finding.text);
      }
    }
    for (const std::string& problem : walked.entries.problems) {
      report_.Line("problem", platform::PrintableText(problem));
    }
    report_.Write("\n");
    return !page.Failed() && !rows.empty();
  }

  void ShowDetail() {
    report_.Write("detail page\n");
    if (!site_->HasLink() || site_->detailAddress.empty()) {
      report_.Line("none", "the site's rows carry their magnet links");
      return;
    }
    if (!firstRow_ || firstRow_->address.empty()) {
      report_.Line("none", "no row to follow");
      return;
    }
    report_.Line("address", ShownAddress(firstRow_->address));
    const auto start = std::chrono::steady_clock::now();
    const FetchedPage page = FetchPage(firstRow_->address, *site_);
    ShowAnswer(report_, page, site_->pageEncoding,
               std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start));
    if (page.Failed() && page.body.empty()) {
      return;
    }
    kept_.push_back({"detail-page.html", page.body, page.charset, true});
    RegExpMatcher matcher;
    const std::vector<Text> links =
        FindMagnetLinks(matcher, SitePageText(page.body, *site_, page.charset), *site_);
    report_.Line("magnets", std::to_string(links.size()));
    for (std::size_t i = 0; i < links.size() && i < kMagnetsShown; ++i) {
      report_.Line(std::to_string(i + 1), Shown(links[i], *site_));
    }
  }

  const CliOptions& options_;
  std::shared_ptr<const SiteDefinition> site_;
  Text replacement_;
  Report& report_;
  std::optional<EntryRow> firstRow_;
  std::vector<KeptPage> kept_;
};

// Rows are written as mappings, which a test compares field by field, when the site's rows have
// more than a title and a link; else as [title, address] pairs.
bool HasMoreThanTitleAndLink(const SiteDefinition& site) {
  for (std::size_t f = 0; f < kRowFieldCount; ++f) {
    if (site.HasField(static_cast<RowField>(f))) {
      return true;
    }
  }
  return false;
}

// The tests that pin what the kept pages give, read as `site test` will read them.
std::vector<SiteTest> TestsOf(const SiteDefinition& site, const std::string& keyword,
                              const std::vector<KeptPage>& kept) {
  std::vector<SiteTest> tests;
  SiteTest& address = tests.emplace_back();
  address.kind = SiteTest::Kind::kAddress;
  address.keyword = keyword;
  address.page = 1;
  address.address = TestAddress(site, keyword, 1);
  RegExpMatcher matcher;
  regex markup;
  for (const KeptPage& page : kept) {
    SiteTest& test = tests.emplace_back();
    test.kind = page.detail ? SiteTest::Kind::kDetailPage : SiteTest::Kind::kResultPage;
    test.savedPage = site.id + "/" + page.name;
    test.charset = page.charset;
    if (page.detail) {
      test.magnets = SavedPageMagnets(site, matcher, page.body, page.charset);
    } else {
      test.fullRows = HasMoreThanTitleAndLink(site);
      test.rows =
          RowsAsTested(SavedPageEntries(site, matcher, markup, page.body, page.charset).rows,
                       test.fullRows, site);
    }
  }
  return tests;
}

// The files --save writes, relative to DIR: every page the probe may fetch, and the definition.
std::vector<std::string> SavedNames(const SiteDefinition& site, std::int32_t pages) {
  std::vector<std::string> names{site.id + ".yaml", site.id + "/detail-page.html"};
  for (std::int32_t page = 1; page <= site.PagesToWalk(pages) && page <= 1000; ++page) {
    names.push_back(site.id + "/result-page-" + std::to_string(page) + SavedExtension(site));
  }
  return names;
}

// The definition's text with `block` as its tests, or SaveFailed when it cannot be written so or
// would not load.
std::string DefinitionWithTests(const SiteDefinition& site, const std::string& definitionText,
                                const std::string& block) {
  const EditedDefinition edited = WithTestsBlock(definitionText, block);
  if (!edited.problem.empty()) {
    throw SaveFailed{platform::PrintableText(site.file) + ": " +
                     platform::PrintableText(edited.problem)};
  }
  const LoadedSite loaded = ParseSiteDefinition(edited.text, site.file, "");
  for (const SiteProblem& problem : loaded.problems) {
    if (problem.severity == SiteProblem::Severity::kError) {
      throw SaveFailed{platform::PrintableText(site.file) +
                       ": with the tests of these pages the definition would not load (" +
                       (problem.line > 0 ? "line " + std::to_string(problem.line) + ": " : "") +
                       platform::PrintableText(problem.message) +
                       "); nothing was written: ask for fewer pages"};
    }
  }
  return edited.text;
}

void Save(Report& report, SaveFolder& folder, const SiteDefinition& site,
          const std::string& definitionText, const std::string& keyword,
          const std::vector<KeptPage>& kept) {
  const std::string block = TestsBlock(TestsOf(site, keyword, kept));
  const std::string definition = DefinitionWithTests(site, definitionText, block);
  for (const KeptPage& page : kept) {
    folder.WritePage(page.name, page.body.view());
  }
  const std::string definitionName = site.id + ".yaml";
  folder.Commit(definitionName, definition);
  report.Write("tests written to " + platform::PrintableText(folder.Path(definitionName)) + "\n");
  std::istringstream lines(block);
  for (std::string line; std::getline(lines, line);) {
    report.Write(platform::PrintableText(line) + "\n");
  }
  report.Write("check them with: magnet-finder-cli site test " +
               platform::PrintableText(folder.Path(definitionName)) + "\n");
}

// The site named and the base that replaces its mirrors' (empty: their own), or an error line.
std::variant<std::pair<std::shared_ptr<const SiteDefinition>, Text>, std::string> ChooseProbed(
    const CliOptions& options) {
  auto chosen = ChooseSite(options.sites.front(), LoadSiteCatalogue());
  if (auto* error = std::get_if<std::string>(&chosen)) {
    return *error;
  }
  const ChosenSite& site = std::get<ChosenSite>(chosen);
  std::variant<Text, std::string> base =
      options.mirror ? ParseSiteAddress(*options.mirror) : SiteFromEnvironment();
  if (auto* error = std::get_if<std::string>(&base)) {
    return options.mirror ? "--mirror: " + *error : *error;
  }
  const Text& replacement = options.mirror || site.base.empty() ? std::get<Text>(base) : site.base;
  return std::pair{site.definition, replacement};
}

}  // namespace

int RunSiteProbe(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const auto chosen = ChooseProbed(options);
  if (const auto* error = std::get_if<std::string>(&chosen)) {
    std::fprintf(err, "magnet-finder-cli: %s (see --help)\n",
                 platform::PrintableText(*error).c_str());
    return kUsage;
  }
  const auto& [site, replacement] = std::get<0>(chosen);
  if (const std::string refusal = KeywordRefusal(options.keyword, *site); !refusal.empty()) {
    std::fprintf(err, "magnet-finder-cli: %s (see --help)\n", refusal.c_str());
    return kUsage;
  }
  Report report(out);
  try {
    std::optional<SaveFolder> folder;
    std::optional<std::string> definitionText;
    if (options.saveDir) {
      definitionText = DefinitionText(*site);
      if (!definitionText) {
        throw SaveFailed{platform::PrintableText(site->file) + ": cannot read the definition"};
      }
      DefinitionWithTests(*site, *definitionText, "tests: []\n");  // refused before any fetch
      folder.emplace(*options.saveDir, site->id, options.force);
      folder->Open(SavedNames(*site, options.pages));
    }
    const ComApartmentScope apartment;
    report.Write(platform::PrintableText(site->id) + " (" + platform::PrintableText(site->name) +
                 "), " + platform::PrintableText(site->file) + "\n\n");
    Probe probe(options, site, replacement, report);
    const bool allGaveEntries = probe.Run();
    if (folder) {
      report.Write("\n");
      Save(report, *folder, *site, *definitionText, options.keyword, probe.Kept());
    }
    return allGaveEntries ? 0 : 1;
  } catch (const SaveFailed& failed) {
    std::fflush(out);
    std::fprintf(err, "magnet-finder-cli: %s\n", failed.line.c_str());
    return 1;
  } catch (const OutputFailed& failed) {
    if (failed.error != EPIPE) {
      std::fprintf(err, "magnet-finder-cli: cannot write the output: %s\n",
                   std::strerror(failed.error));
    }
    return 1;
  }
}

}  // namespace mf::cli
