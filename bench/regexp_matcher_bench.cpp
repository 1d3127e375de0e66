// What the regular-expression layers cost over PCRE2 itself, on a 1 MB result page.
//
// Every case searches the same page with the entry pattern and reads both groups of every
// match. The baselines call PCRE2-16 directly (compile, JIT, match-all, copy the groups): once on
// the page already in UTF-16, once with the page converted from code page 936 and each group
// converted back, which is the least any layer over a UTF-16 engine must do for `Text` callers.
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <string>
#include <vector>

#include "platform/regexp_engine.h"
#include "support/encoding.h"
#include "support/regexp_matcher.h"
#include "support/text_types.h"

namespace mf {
namespace {

const std::u16string kEntryPattern = u"href=\"(.*?)\">(.*?)</a></div>";

// A synthetic result page of about `size` bytes in code page 936: entries with Chinese titles and
// highlight markup, each followed by a line of details that the pattern must skip.
Text MakeResultPage(std::size_t size) {
  std::string utf8 =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>搜索结果</title></head><body>\n";
  for (int i = 0; utf8.size() < size * 3 / 2; ++i) {  // UTF-8 Chinese is 3 bytes, GBK 2
    const std::string n = std::to_string(i);
    utf8 += "<div class=\"item\"><div class=\"title\"><h3><a href=\"/hash/" + n +
            "a3f9c2e1b7d4.html\">第" + n +
            "部 中文<span class=\"mhl\">关键词</span>电影 1080p 高清<span class=\"mhl\">国语"
            "</span>中字</a></div>\n<div class=\"bar\"><span>文件大小：1." +
            n.substr(0, 1) +
            " GB</span><span>创建时间：2020-01-01</span><a href=\"magnet:?xt=" + n +
            "\">磁力</a></div></div>\n";
  }
  utf8 += "</body></html>\n";
  Text page = Utf8ToGbk(Text(utf8));
  return Text(page.view().substr(0, std::min(page.size(), size)));
}

}  // namespace

const Text& Page() {
  static const Text page = MakeResultPage(1024 * 1024);
  return page;
}

namespace {

struct Pcre2Run {
  pcre2_code* code = nullptr;
  pcre2_match_data* data = nullptr;
  ~Pcre2Run() {
    pcre2_match_data_free(data);
    pcre2_code_free(code);
  }
};

// Compile, match all and hand each group (1-based) to `take`.
template <typename Take>
void RawMatchAll(std::u16string_view subject, Take&& take) {
  Pcre2Run run;
  pcre2_compile_context* context = pcre2_compile_context_create(nullptr);
  pcre2_set_newline(context, PCRE2_NEWLINE_ANYCRLF);
  int error = 0;
  PCRE2_SIZE offset = 0;
  run.code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kEntryPattern.data()), kEntryPattern.size(),
                           PCRE2_UTF | PCRE2_CASELESS | PCRE2_MULTILINE, &error, &offset, context);
  pcre2_compile_context_free(context);
  pcre2_jit_compile(run.code, PCRE2_JIT_COMPLETE);
  run.data = pcre2_match_data_create_from_pattern(run.code, nullptr);
  const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(run.data);
  const auto* units = reinterpret_cast<PCRE2_SPTR>(subject.data());
  PCRE2_SIZE start = 0;
  while (pcre2_match(run.code, units, subject.size(), start, PCRE2_NO_UTF_CHECK, run.data,
                     nullptr) > 0) {
    take(subject.substr(ov[2], ov[3] - ov[2]));
    take(subject.substr(ov[4], ov[5] - ov[4]));
    start = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
  }
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Page().size()));
}

void BM_RawPcre2(benchmark::State& state) {
  const std::u16string subject = AnsiToUtf16(Page());
  for (auto _ : state) {
    std::vector<std::u16string> groups;
    RawMatchAll(subject, [&](std::u16string_view group) { groups.emplace_back(group); });
    benchmark::DoNotOptimize(groups.data());
  }
  SetBytes(state);
}
BENCHMARK(BM_RawPcre2)->Unit(benchmark::kMillisecond);

void BM_RawPcre2WithCodePage(benchmark::State& state) {
  for (auto _ : state) {
    const std::u16string subject = AnsiToUtf16(Page());
    std::vector<Text> groups;
    RawMatchAll(subject, [&](std::u16string_view group) { groups.push_back(Utf16ToAnsi(group)); });
    benchmark::DoNotOptimize(groups.data());
  }
  SetBytes(state);
}
BENCHMARK(BM_RawPcre2WithCodePage)->Unit(benchmark::kMillisecond);

void BM_RegExpEngine(benchmark::State& state) {
  const std::u16string subject = AnsiToUtf16(Page());
  for (auto _ : state) {
    platform::RegExpEngine engine;
    engine.SetPattern(kEntryPattern);
    engine.SetIgnoreCase(true);
    engine.SetMultiline(true);
    engine.SetGlobal(true);
    const auto matches = engine.Execute(subject);
    std::vector<std::u16string> groups;
    for (std::size_t i = 0; i < matches->Count(); ++i) {
      groups.emplace_back(*matches->Group(i, 1));
      groups.emplace_back(*matches->Group(i, 2));
    }
    benchmark::DoNotOptimize(groups.data());
  }
  SetBytes(state);
}
BENCHMARK(BM_RegExpEngine)->Unit(benchmark::kMillisecond);

void BM_RegExpMatcher(benchmark::State& state) {
  const Text pattern("href=\"(.*?)\">(.*?)</a></div>");
  RegExpMatcher matcher;
  for (auto _ : state) {
    matcher.Search(pattern, Page());
    std::vector<Text> groups;
    const std::int32_t count = matcher.MatchCount();
    for (std::int32_t i = 1; i <= count; ++i) {
      groups.push_back(matcher.SubMatchText(i, 1));
      groups.push_back(matcher.SubMatchText(i, 2));
    }
    benchmark::DoNotOptimize(groups.data());
  }
  state.counters["matches"] = matcher.MatchCount();
  SetBytes(state);
}
BENCHMARK(BM_RegExpMatcher)->Unit(benchmark::kMillisecond);

// The search alone (conversion of the page, matching, the collection), without reading groups.
void BM_RegExpMatcherSearchOnly(benchmark::State& state) {
  const Text pattern("href=\"(.*?)\">(.*?)</a></div>");
  RegExpMatcher matcher;
  for (auto _ : state) {
    matcher.Search(pattern, Page());
    benchmark::DoNotOptimize(matcher.MatchCount());
  }
  SetBytes(state);
}
BENCHMARK(BM_RegExpMatcherSearchOnly)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mf

int main(int argc, char** argv) {
  mf::Page();  // made once, outside every measurement
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
