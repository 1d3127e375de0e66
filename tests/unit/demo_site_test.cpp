// The demo site: its pages fit the tool's patterns, stay the same from run to run, and the
// server (in process and as a program) serves and fails the way its options say.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <pcre2.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <sstream>
#include <thread>

#include "demo_pages.h"
#include "demo_server.h"
#include "example_layouts.h"
#include "gbk_text.h"

namespace mf::demo {
namespace {

using Groups = std::vector<std::pair<std::string, std::string>>;

// All matches of a pattern the way the tool runs it: case-insensitive, multi-line, "." stopping
// at line breaks. Callers pass valid UTF-8 (the tool, too, matches only converted text).
Groups MatchAll(const std::string& pattern, std::string_view subject) {
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code =
      pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), pattern.size(),
                    PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE, &error, &offset, nullptr);
  EXPECT_NE(code, nullptr);
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
  Groups found;
  const auto* s = reinterpret_cast<PCRE2_SPTR>(subject.data());
  for (PCRE2_SIZE at = 0;
       at <= subject.size() &&
       pcre2_match(code, s, subject.size(), at, at ? PCRE2_NO_UTF_CHECK : 0, data, nullptr) > 0;) {
    const PCRE2_SIZE* v = pcre2_get_ovector_pointer(data);
    auto group = [&](int g) {
      return std::string(subject.substr(v[2 * g], v[2 * g + 1] - v[2 * g]));
    };
    found.emplace_back(group(1), pcre2_get_ovector_count(data) > 2 ? group(2) : "");
    at = v[1] > v[0] ? v[1] : v[1] + 1;
  }
  pcre2_match_data_free(data);
  pcre2_code_free(code);
  return found;
}

const std::string kEntryPattern = R"re(href="(.*?)">(.*?)</a></div>)re";
const std::string kMagnetPattern = "[磁力下载|迅雷下载]：<a href=\"(.*?)\">";

// Entries of a result page, as the tool sees it: cut at the first zero byte, invalid UTF-8
// replaced, then matched line by line (the pattern cannot span lines). A line too long to
// match in reasonable time is checked to hold no closing markup, which already rules a match out.
Groups Entries(const std::string& body) {
  Groups found;
  std::istringstream lines{ValidUtf8(body.substr(0, body.find('\0')))};
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 100'000 && line.find("</a></div>") == std::string::npos)
      continue;
    for (auto& m : MatchAll(kEntryPattern, line))
      found.push_back(std::move(m));
  }
  return found;
}

// The title clean-up with the tool's markup pattern (case-sensitive, leftmost alternative first).
std::string RemoveMarkup(const std::string& title) {
  const std::string pattern = R"re(<span class="mhl">|</span>|<span class=".*?</script>)re";
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.c_str()), pattern.size(),
                                   PCRE2_UTF, &error, &offset, nullptr);
  std::string out(title.size() + 1, '\0');
  PCRE2_SIZE length = out.size();
  const int rc =
      pcre2_substitute(code, reinterpret_cast<PCRE2_SPTR>(title.data()), title.size(), 0,
                       PCRE2_SUBSTITUTE_GLOBAL, nullptr, nullptr, reinterpret_cast<PCRE2_SPTR>(""),
                       0, reinterpret_cast<PCRE2_UCHAR*>(out.data()), &length);
  pcre2_code_free(code);
  EXPECT_GE(rc, 0);
  out.resize(rc >= 0 ? length : 0);
  return out;
}

Groups Expected(const std::vector<Entry>& entries) {
  Groups g;
  for (const Entry& e : entries)
    g.emplace_back(ValidUtf8(e.link), ValidUtf8(e.titleHtml));
  return g;
}

TEST(DemoPages, ResultPagesAreStableAndDifferByKeywordAndPage) {
  EXPECT_EQ(MakeResultPage("电影", 3).body, MakeResultPage("电影", 3).body);
  EXPECT_NE(MakeResultPage("电影", 3).body, MakeResultPage("电影", 4).body);
  EXPECT_NE(MakeResultPage("电影", 3).body, MakeResultPage("电视", 3).body);
  EXPECT_EQ(MakeDetailPage("0123456789abcdef")->body, MakeDetailPage("0123456789abcdef")->body);
}

TEST(DemoPages, ResultPageEntriesFitTheEntryPattern) {
  for (const char* keyword : {"电影", "abc", "", "a\"<b>&</a></div>\nx", "\xFF\xE4"}) {
    for (int page : {1, 2, 57}) {
      const ResultPage p = MakeResultPage(keyword, page);
      ASSERT_EQ(p.findable.size(), static_cast<std::size_t>(kEntriesPerPage)) << keyword;
      EXPECT_EQ(Entries(p.body), Expected(p.findable)) << keyword << " page " << page;
      EXPECT_EQ(ValidUtf8(p.body), p.body) << "a normal page is valid UTF-8";
    }
  }
}

TEST(DemoPages, SomeLinesHoldSeveralEntries) {
  const std::string body = MakeResultPage("abc", 1).body;
  std::istringstream lines(body);
  int most = 0;
  for (std::string line; std::getline(lines, line);) {
    most = std::max(most, static_cast<int>(MatchAll(kEntryPattern, line).size()));
  }
  EXPECT_EQ(most, 3);
}

TEST(DemoPages, TitlesLoseOnlyTheHighlightTags) {
  for (const Entry& e : MakeResultPage("中文", 5).findable) {
    EXPECT_NE(e.titleHtml.find("<span class=\"mhl\">中文</span>"), std::string::npos);
    EXPECT_EQ(RemoveMarkup(e.titleHtml), e.title);
    EXPECT_NE(e.title.find("中文"), std::string::npos);
  }
}

TEST(DemoPages, QuirkPagesHideOrKeepTheEntriesTheyName) {
  struct Case {
    PageQuirk quirk;
    std::size_t findable;
  };
  for (const auto [quirk, count] :
       {Case{PageQuirk::kSplitEntry, 19}, Case{PageQuirk::kUpperHref, 20},
        Case{PageQuirk::kZeroByte, 10}, Case{PageQuirk::kInvalidUtf8, 20},
        Case{PageQuirk::kLongLine, 20}, Case{PageQuirk::kHuge, 5000},
        Case{PageQuirk::kLongTitle, 20}}) {
    const ResultPage p = MakeResultPage("abc", 2, quirk);
    EXPECT_EQ(p.findable.size(), count) << static_cast<int>(quirk);
    EXPECT_EQ(Entries(p.body), Expected(p.findable)) << static_cast<int>(quirk);
  }
  const std::string zero = MakeResultPage("abc", 2, PageQuirk::kZeroByte).body;
  EXPECT_EQ(Entries(zero.substr(zero.find('\0') + 1)).size(), 10u) << "entries go on after it";
  EXPECT_NE(MakeResultPage("abc", 2, PageQuirk::kUpperHref).body.find("HREF=\""),
            std::string::npos);
  const std::string bad = MakeResultPage("abc", 2, PageQuirk::kInvalidUtf8).body;
  EXPECT_NE(ValidUtf8(bad), bad);
  EXPECT_GT(MakeResultPage("abc", 2, PageQuirk::kLongLine).body.size(), 2'000'000u);
  const std::string longTitle =
      MakeResultPage("abc", 2, PageQuirk::kLongTitle).findable.back().title;
  EXPECT_GT(longTitle.size(), 2'000'000u);
  EXPECT_EQ(longTitle.find("</script>"), std::string::npos);
}

TEST(DemoPages, PagesAfterTheLastHaveNoEntries) {
  EXPECT_EQ(MakeResultPage("abc", 3, PageQuirk::kNone, 3).findable.size(), 20u);
  const ResultPage after = MakeResultPage("abc", 4, PageQuirk::kNone, 3);
  EXPECT_TRUE(after.findable.empty());
  EXPECT_TRUE(Entries(after.body).empty());
}

TEST(DemoPages, DetailPagesHoldOneOrTwoMagnetLinks) {
  std::set<std::size_t> counts;
  for (const Entry& e : MakeResultPage("abc", 1).findable) {
    const std::string id = e.link.substr(8, 16);
    const std::optional<DetailPage> d = MakeDetailPage(id);
    ASSERT_TRUE(d) << id;
    Groups expected;
    for (const std::string& link : d->links) {
      EXPECT_EQ(link.rfind("magnet:?xt=urn:btih:", 0), 0u);
      EXPECT_NE(link.find("&amp;dn="), std::string::npos);
      expected.emplace_back(link, "");
    }
    EXPECT_EQ(MatchAll(kMagnetPattern, d->body), expected);
    counts.insert(d->links.size());
  }
  EXPECT_EQ(counts, (std::set<std::size_t>{1, 2}));
  EXPECT_FALSE(MakeDetailPage("0123456789ABCDEF"));
  EXPECT_FALSE(MakeDetailPage("0123"));
}

TEST(DemoPages, AnyEntryOrLinkCountIsWhatThePatternsFind) {
  for (int page = 1; page <= 4; ++page) {
    for (int entries = 0; entries <= 17; ++entries) {
      const ResultPage p = MakeResultPage("abc", page, PageQuirk::kInvalidUtf8, 0, entries);
      EXPECT_EQ(p.findable.size(), static_cast<std::size_t>(entries));
      EXPECT_EQ(Entries(p.body), Expected(p.findable)) << entries << " on page " << page;
    }
  }
  EXPECT_TRUE(MakeResultPage("abc", 1, PageQuirk::kLongTitle, 0, 0).findable.empty());
  const ResultPage big = MakeResultPage("abc", 1, PageQuirk::kNone, 0, 2000);
  EXPECT_EQ(big.findable.size(), 2000u);
  EXPECT_EQ(Entries(big.body), Expected(big.findable));
  const DetailPage d = *MakeDetailPage("0123456789abcdef", 10000);
  Groups expected;
  for (const std::string& link : d.links)
    expected.emplace_back(link, "");
  EXPECT_EQ(expected.size(), 10000u);
  EXPECT_EQ(MatchAll(kMagnetPattern, d.body), expected);
  EXPECT_EQ(std::set(d.links.begin(), d.links.end()).size(), 10000u) << "no two alike";
}

// The example sites: what the JSON answer holds once parsed, and that the three sites list the
// same torrents, each from its own place.
TEST(ExamplePages, JsonAnswersParseToTheirTorrentsInEverySpelling) {
  EXPECT_EQ(Base32Hash("666f6f6261"), "MZXW6YTB") << "RFC 4648's \"fooba\"";
  // Quotes, a slash, a backslash, a control character, invalid UTF-8 and one beyond U+FFFF.
  for (const std::string keyword : {"电影",
                                    "a\"/\\\x01\xFF\xF0\x9F\x98\x80"
                                    "b"}) {
    std::set<std::size_t> spellings;
    for (int page = 1; page <= kJsonPages + 1; ++page) {
      const ListedPage p = MakeJsonResultPage(keyword, page);
      const nlohmann::json answer = nlohmann::json::parse(p.body);  // throws when not JSON
      const nlohmann::json& rows = answer.at("data").at("torrents");
      ASSERT_EQ(rows.size(), page <= kJsonPages ? 20u : 0u) << page;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const ListedTorrent& t = p.torrents[i];
        EXPECT_EQ(p.indexes[i], (page - 1) * 20 + static_cast<int>(i));
        EXPECT_EQ(rows[i].at("name"), t.name);
        EXPECT_EQ(rows[i].at("size"), t.sizeBytes);
        EXPECT_EQ(rows[i].at("seeders"), t.seeders);
        const std::string hash = rows[i].at("info_hash");
        const std::vector<std::string> all = {t.infoHash, HashAsListed(t, 3),
                                              Base32Hash(t.infoHash)};
        const auto spelling = std::find(all.begin(), all.end(), hash) - all.begin();
        EXPECT_LT(spelling, 3) << hash;
        spellings.insert(spelling);
      }
    }
    EXPECT_EQ(spellings.size(), 3u) << "lower and upper hex and base32 are all among the rows";
  }
  EXPECT_NE(MakeJsonResultPage("电影", 1).body.find("\\u7535\\u5f71"), std::string::npos);
  EXPECT_NE(MakeJsonResultPage("电影", 1).body.find("电影"), std::string::npos);
}

TEST(ExamplePages, TheThreeSitesShareTorrentsAndTheTableRepeatsItsLastPage) {
  const std::string kRow =
      R"re(<tr class="row"><td class="title">(.*?)</td><td><a class="magnet" href="([^"]*)")re";
  std::set<std::string> tableHashes;
  for (int page = 1; page <= 4; ++page) {
    for (TableSite site : {TableSite::kTable, TableSite::kMoved}) {
      const ListedPage p = MakeTableResultPage("电影", page, site);
      const int first =
          (std::min(page, kTablePages) - 1) * 20 + (site == TableSite::kTable ? 10 : 5);
      ASSERT_EQ(p.indexes.size(), 20u);
      EXPECT_EQ(p.indexes.front(), first);
      Groups expected;
      for (const ListedTorrent& t : p.torrents) {
        EXPECT_EQ(t.infoHash, MakeJsonResultPage("电影", 1 + p.indexes[&t - &p.torrents[0]] / 20)
                                  .torrents[p.indexes[&t - &p.torrents[0]] % 20]
                                  .infoHash);
        expected.emplace_back(HtmlEscape(t.name), HtmlEscape(MagnetLink(t)));
        expected.back().first.replace(expected.back().first.find("电影"), 6, "<b>电影</b>");
        if (site == TableSite::kTable)
          tableHashes.insert(t.infoHash);
      }
      EXPECT_EQ(MatchAll(kRow, p.body), expected) << "page " << page;
    }
  }
  EXPECT_EQ(tableHashes.size(), 60u) << "three pages of their own";
  EXPECT_EQ(MakeTableResultPage("电影", 4, TableSite::kTable).body,
            MakeTableResultPage("电影", 3, TableSite::kTable).body);
  EXPECT_EQ(MakeTableResultPage("电影", 1000, TableSite::kTable, 2).body,
            MakeTableResultPage("电影", 2, TableSite::kTable, 2).body);
  EXPECT_EQ(HumanSize(1503238553), "1.4 GB");
  EXPECT_EQ(HumanSize(332398592), "317 MB");
}

TEST(DemoOptions, ParsesFlagsAndRejectsBadOnes) {
  auto ok = ParseSiteOptions({"--port",
                              "8080",
                              "--fail-page=3=close",
                              "--latency",
                              "5",
                              "--zero-byte-page",
                              "4",
                              "--huge-page",
                              "9",
                              "--fail-detail",
                              "404",
                              "--host",
                              "::1",
                              "--tls",
                              "--connect-delay",
                              "20",
                              "--entries-per-page=2000",
                              "--detail-links",
                              "3",
                              "--report-connections",
                              "--json-pages",
                              "2",
                              "--table-pages=7"});
  ASSERT_TRUE(std::holds_alternative<SiteOptions>(ok)) << std::get<std::string>(ok);
  const auto& o = std::get<SiteOptions>(ok);
  EXPECT_EQ(o.port, 8080);
  EXPECT_EQ(o.latencyMs, 5);
  EXPECT_EQ(o.failingPages.at(3), Failure::kClose);
  EXPECT_EQ(o.quirkPages.at(4), PageQuirk::kZeroByte);
  EXPECT_EQ(o.quirkPages.at(9), PageQuirk::kHuge);
  EXPECT_EQ(o.failingDetail, Failure::kNotFound);
  EXPECT_TRUE(o.tls && o.reportConnections);
  EXPECT_EQ(o.connectDelayMs, 20);
  EXPECT_EQ(o.entriesPerPage, 2000);
  EXPECT_EQ(o.detailLinks, 3);
  EXPECT_EQ(o.jsonPages, 2);
  EXPECT_EQ(o.tablePages, 7);
  for (std::vector<std::string> bad : {std::vector<std::string>{"--host", "0.0.0.0"},
                                       {"--port", "70000"},
                                       {"--port"},
                                       {"--fail-page", "3"},
                                       {"--fail-page", "3=teapot"},
                                       {"--latency", "-1"},
                                       {"--entries-per-page", "x"},
                                       {"--bogus", "1"}}) {
    EXPECT_TRUE(std::holds_alternative<std::string>(ParseSiteOptions(bad))) << bad[0];
  }
}

class DemoServer : public ::testing::Test {
 protected:
  void Start(std::vector<std::string> args) {
    site_ = std::make_unique<DemoSite>(std::get<SiteOptions>(ParseSiteOptions(args)));
    ASSERT_GT(site_->Bind(), 0);
    serving_ = std::thread([this] { site_->Serve(); });
    client_ = std::make_unique<httplib::Client>(site_->BaseAddress());
    client_->enable_server_certificate_verification(false);
  }
  void TearDown() override {
    if (site_)
      site_->Stop();
    if (serving_.joinable())
      serving_.join();
  }
  httplib::Result Get(const std::string& path) { return client_->Get(path); }

  std::unique_ptr<DemoSite> site_;
  std::thread serving_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(DemoServer, ServesDecodedKeywordsAndDetailPages) {
  Start({"--upper-href-page", "2"});
  EXPECT_EQ(site_->BaseAddress().rfind("http://127.0.0.1:", 0), 0u);
  auto r = Get("/list/%E4%B8%AD%20%2F%61/3");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  EXPECT_EQ(r->body, MakeResultPage("中 /a", 3).body);
  EXPECT_EQ(Get("/list//1")->body, MakeResultPage("", 1).body);
  EXPECT_EQ(Get("/list/abc/2")->body, MakeResultPage("abc", 2, PageQuirk::kUpperHref).body);
  const std::string link = MakeResultPage("abc", 1).findable[0].link;
  EXPECT_EQ(Get(link)->body, MakeDetailPage(link.substr(8, 16))->body);
  EXPECT_EQ(Get("/detail/nothing.html")->status, 404);
  EXPECT_EQ(Get("/list/abc/x")->status, 404);
}

TEST_F(DemoServer, ServesTheGbkLayoutInGbkAndSaysSo) {
  Start({"--fail-page", "3=500"});
  auto r = Get("/search?q=%B5%E7%D3%B0&p=2");  // 电影 in GBK
  ASSERT_TRUE(r);
  EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=GBK");
  EXPECT_EQ(r->body, ToGbk(MakeGbkResultPage("电影", 2).body));
  EXPECT_NE(r->body.find("<em>\xB5\xE7\xD3\xB0</em>"), std::string::npos);
  const std::string link = MakeGbkResultPage("电影", 2).findable[0].link;
  EXPECT_EQ(Get(link)->body, ToGbk(MakeGbkDetailPage(link.substr(9, 16))->body));
  EXPECT_EQ(Get("/search?q=%B5%E7&p=3")->status, 500);
  EXPECT_EQ(Get("/search?p=1")->status, 404);
  EXPECT_EQ(Get("/search?q=a&p=x")->status, 404);
  EXPECT_EQ(Get("/torrent/0123.html")->status, 404);
}

TEST_F(DemoServer, ServesTheExampleSitesAndMovesTheOldAddress) {
  Start({"--json-pages", "2", "--table-pages", "2", "--fail-page", "5=500"});
  struct Case {
    std::string path;
    int status;
    std::string body;  // when the status is 200
    std::string type = kUtf8Html;
  };
  const std::vector<Case> cases = {
      {"/api/search?q=%E7%94%B5%E5%BD%B1&page=2", 200, MakeJsonResultPage("电影", 2, 2).body,
       "application/json"},
      {"/api/search?q=%E7%94%B5%E5%BD%B1&page=3", 200, MakeJsonResultPage("电影", 3, 2).body,
       "application/json"},
      {"/torrents?q=a%20b&p=9", 200, MakeTableResultPage("a b", 2, TableSite::kTable, 2).body},
      {"/new/torrents?q=a&p=1", 200, MakeTableResultPage("a", 1, TableSite::kMoved, 2).body},
      {"/api/search?q=a&page=5", 500, ""},
      {"/torrents?q=a&p=5", 500, ""},
      {"/api/search?page=1", 404, ""},
      {"/torrents?q=a&p=0", 404, ""},
      {"/new/search?q=a&p=1", 404, ""},
      {"/feed?q=%E7%94%B5%E5%BD%B1&start=40&count=20", 200, MakeFeedResultPage("电影", 40, 20).body,
       "application/rss+xml; charset=utf-8"},
      {"/feed?q=a&start=80&count=20", 500, ""},  // its page 5
      {"/feed?q=a&start=0", 404, ""},
  };
  for (const Case& c : cases) {
    auto r = Get(c.path);
    ASSERT_TRUE(r) << c.path;
    EXPECT_EQ(r->status, c.status) << c.path;
    if (c.status == 200) {
      EXPECT_EQ(r->body, c.body) << c.path;
      EXPECT_EQ(r->get_header_value("Content-Type"), c.type) << c.path;
    }
  }
  EXPECT_TRUE(MakeJsonResultPage("电影", 3, 2).torrents.empty());
  EXPECT_EQ(MakeFeedResultPage("电影", 40, 20).torrents.size(), 10u);  // the last 10 of 50
  EXPECT_TRUE(MakeFeedResultPage("电影", 60, 20).torrents.empty());
  auto moved = Get("/old/torrents?q=%E7%94%B5%26%20&p=2");
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->status, 302);
  // The client hands the header over decoded (on the wire: ...?p=2&q=%E7%94%B5%26%20).
  EXPECT_EQ(moved->get_header_value("Location"), "http://moved.invalid/torrents?p=2&q=电& ");
}

TEST_F(DemoServer, FailingPagesFailAsAskedAndOthersDoNot) {
  Start({"--fail-page", "1=404", "--fail-page", "2=500", "--fail-page", "3=empty", "--fail-page",
         "4=close", "--fail-page", "5=zero", "--fail-detail", "empty"});
  auto notFound = Get("/list/abc/1");
  EXPECT_EQ(notFound->status, 404);
  EXPECT_TRUE(Entries(notFound->body).empty());
  EXPECT_EQ(Get("/list/abc/2")->status, 500);
  auto empty = Get("/list/abc/3");
  EXPECT_EQ(empty->status, 200);
  EXPECT_TRUE(empty->body.empty());
  EXPECT_FALSE(Get("/list/abc/4")) << "a body cut short is a failed transfer";
  auto zero = Get("/list/abc/5");
  ASSERT_TRUE(zero);
  EXPECT_EQ(zero->body, std::string(1, '\0') + MakeResultPage("abc", 5).body);
  EXPECT_EQ(Get("/list/abc/6")->body, MakeResultPage("abc", 6).body);
  auto detail = Get(MakeResultPage("abc", 6).findable[0].link);
  EXPECT_EQ(detail->status, 200);
  EXPECT_TRUE(detail->body.empty());
}

TEST_F(DemoServer, LatencyDelaysAnswersAndStopCutsItShort) {
  Start({"--latency", "150"});
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Get("/list/abc/1"));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
  TearDown();
  site_.reset();
  Start({"--latency", "600000"});
  std::thread waiting([this] { Get("/"); });
  site_->Stop();  // would leave the request (and this test) hanging for ten minutes otherwise
  waiting.join();
}

TEST_F(DemoServer, ServesHttpsWithACertificateForTheAddressAndTheChosenCounts) {
  Start({"--tls", "--entries-per-page", "7", "--detail-links", "3"});
  EXPECT_EQ(site_->BaseAddress().rfind("https://127.0.0.1:", 0), 0u);
  static std::atomic<bool> namesTheAddress = false;
  SSL_CTX_set_info_callback(client_->ssl_context(), [](const SSL* ssl, int where, int) {
    if (where & SSL_CB_HANDSHAKE_DONE)
      namesTheAddress = X509_check_ip_asc(SSL_get0_peer_certificate(ssl), "127.0.0.1", 0) == 1;
  });
  auto r = Get("/list/abc/1");
  ASSERT_TRUE(r) << httplib::to_string(r.error());
  EXPECT_EQ(r->body, MakeResultPage("abc", 1, PageQuirk::kNone, 0, 7).body);
  EXPECT_TRUE(namesTheAddress);
  const std::string link = MakeResultPage("abc", 1).findable[0].link;
  EXPECT_EQ(Get(link)->body, MakeDetailPage(link.substr(8, 16), 3)->body);
}

TEST_F(DemoServer, ConnectDelayComesOncePerConnectionAndConnectionsAreCounted) {
  Start({"--connect-delay", "500"});
  auto timedGet = [](httplib::Client& client) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.Get("/list/abc/1"));
    return std::chrono::steady_clock::now() - start;
  };
  client_->set_keep_alive(true);
  EXPECT_GE(timedGet(*client_), std::chrono::milliseconds(500));
  EXPECT_LT(timedGet(*client_), std::chrono::milliseconds(250)) << "the same connection";
  for (int i = 0; i < 100; ++i)
    ASSERT_TRUE(Get("/"));
  EXPECT_EQ(site_->ConnectionCount(), 1) << "a long walk stays on one connection";
  httplib::Client other(site_->BaseAddress());
  EXPECT_GE(timedGet(other), std::chrono::milliseconds(500));
  EXPECT_EQ(site_->ConnectionCount(), 2);
}

// The program itself: first line on stdout is its address; SIGTERM ends it cleanly, and it can
// report the connections on stderr.
TEST(DemoProgram, PrintsItsAddressServesAndStopsOnSigterm) {
  int out[2];
  int err[2];
  ASSERT_EQ(pipe(out), 0);
  ASSERT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  std::string program = MF_DEMO_SITE_PROGRAM;
  std::string report = "--report-connections";
  std::vector<char*> argv = {program.data(), report.data(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  auto readWithin = [&](int ms, int fd = -1) {
    pollfd p{fd < 0 ? out[0] : fd, POLLIN, 0};
    char buffer[256];
    if (poll(&p, 1, ms) != 1)
      return std::string("(timed out)");
    return std::string(buffer, std::max<ssize_t>(0, read(p.fd, buffer, sizeof buffer)));
  };
  const std::string line = readWithin(10'000);
  const std::string prefix = "http://127.0.0.1:";
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  ASSERT_EQ(line.back(), '\n');
  EXPECT_GT(std::stoi(line.substr(prefix.size())), 0) << line;
  httplib::Client client(line.substr(0, line.size() - 1));
  auto r = client.Get("/list/abc/1");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->body, MakeResultPage("abc", 1).body);
  kill(pid, SIGTERM);
  EXPECT_EQ(readWithin(10'000), "") << "stdout closes when the program ends";
  EXPECT_EQ(readWithin(10'000, err[0]), "connections: 1\n");
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(out[0]);
  close(err[0]);
}

}  // namespace
}  // namespace mf::demo
