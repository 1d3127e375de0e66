// Reading the rows of a JSON answer and of an RSS feed of 1,000 torrents each (sizes as text,
// RFC 822 dates, counts), beside the same-run baselines of parsing the same bytes alone with the
// libraries that read them (nlohmann-json, pugixml): what the pointers, paths, info-hashes and
// value reading add.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <string>

#include "site/result_page.h"
#include "site/site_definition.h"
#include "support/encoding.h"
#include "support/pattern.h"
#include "support/regexp_matcher.h"
#include "support/threads.h"

namespace mf {
namespace {

constexpr int kRows = 1000;

std::string Hash(int i) {
  std::string hash = std::to_string(i);
  return std::string(40 - hash.size(), 'a') + hash;
}

std::string JsonAnswer() {
  std::string json = "{\"data\":[";
  for (int i = 0; i < kRows; ++i) {
    json += std::string(i == 0 ? "" : ",") + "{\"name\":\"纪录片 第" + std::to_string(i) +
            "集 1080p\",\"hash\":\"" + Hash(i) +
            "\",\"size\":\"1.2 GiB\",\"date\":\"Tue, 01 Sep 2026 12:49:02 -0000\","
            "\"seeders\":\"1,234\",\"leechers\":5}";
  }
  return json + "]}";
}

std::string FeedAnswer() {
  std::string xml = "<?xml version=\"1.0\"?><rss xmlns:n=\"https://n.example\"><channel>";
  for (int i = 0; i < kRows; ++i) {
    xml += "<item><title><![CDATA[纪录片 第" + std::to_string(i) + "集 1080p]]></title><n:hash>" +
           Hash(i) +
           "</n:hash><n:size>1.2 GiB</n:size><pubDate>Tue, 01 Sep 2026 12:49:02 -0000</pubDate>"
           "<n:seeders>1,234</n:seeders><n:leechers>5</n:leechers></item>";
  }
  return xml + "</channel></rss>";
}

SiteDefinition Site(PageFormat format) {
  SiteDefinition site;
  site.pageFormat = format;
  if (format == PageFormat::kJson) {
    site.rowsPointer = "/data";
    site.titlePointer = "/name";
    site.fieldPointers = {"", "/hash", "/size", "/date", "/seeders", "/leechers"};
  } else {
    site.rowsPointer = "/rss/channel/item";
    site.titlePointer = "title";
    site.fieldPointers = {"", "n:hash", "n:size", "pubDate", "n:seeders", "n:leechers"};
  }
  return site;
}

void BM_Rows(benchmark::State& state, PageFormat format) {
  const ComApartmentScope apartment;
  RegExpMatcher matcher;
  regex markup;
  const SiteDefinition site = Site(format);
  const Text page = Utf8ToGbk(Text(format == PageFormat::kJson ? JsonAnswer() : FeedAnswer()));
  for (auto _ : state) {
    const PageEntries entries = ReadEntries(matcher, markup, page, site, Text());
    if (entries.rows.size() != kRows || !entries.rows.back().dateSeconds) {
      state.SkipWithError("the rows were not read");
    }
  }
}

void BM_JsonParseAlone(benchmark::State& state) {
  const std::string json = JsonAnswer();
  for (auto _ : state) {
    benchmark::DoNotOptimize(nlohmann::json::parse(json, nullptr, false));
  }
}

void BM_XmlParseAlone(benchmark::State& state) {
  const std::string xml = FeedAnswer();
  for (auto _ : state) {
    pugi::xml_document document;
    benchmark::DoNotOptimize(document.load_buffer(xml.data(), xml.size()));
  }
}

BENCHMARK(BM_JsonParseAlone)
    ->Name("JSON answer, parse alone (baseline)")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rows, json, PageFormat::kJson)
    ->Name("JSON answer, ReadEntries")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlParseAlone)
    ->Name("RSS feed, parse alone (baseline)")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rows, xml, PageFormat::kXml)
    ->Name("RSS feed, ReadEntries")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mf

BENCHMARK_MAIN();
