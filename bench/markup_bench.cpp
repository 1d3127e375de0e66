// Removing the highlight markup from result titles, beside the same-run baseline of one
// replacement with the whole pattern over the whole title:
// - an ordinary page: 20 titles with highlight spans;
// - a hostile page: 20 titles of 70 KB of span openings that no "</script>" follows, which cost
//   the whole pattern the square of their length.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "site/result_page.h"
#include "support/pattern.h"

namespace mf {
namespace {

const Text kMarkup("<span class=\"mhl\">|</span>|<span class=\".*?</script>");

std::vector<Text> Titles(bool hostile) {
  std::vector<Text> titles;
  for (int i = 0; i < 20; ++i) {
    std::string title = "中文<span class=\"mhl\">电影</span> 1080p " + std::to_string(i);
    while (hostile && title.size() < 70 * 1024) {
      title += "<span class=\"big\">长标题";
    }
    titles.emplace_back(title);
  }
  return titles;
}

template <bool kHostile, bool kWholePattern>
void BM_Page(benchmark::State& state) {
  regex markup;
  markup.Compile(kMarkup);
  const std::vector<Text> titles = Titles(kHostile);
  for (auto _ : state) {
    for (const Text& title : titles) {
      benchmark::DoNotOptimize(kWholePattern
                                   ? markup.Replace(title, Text(), 1, std::nullopt, true, true)
                                   : StripMarkup(markup, title));
    }
  }
}

BENCHMARK(BM_Page<false, true>)->Name("ordinary page, whole pattern (baseline)");
BENCHMARK(BM_Page<false, false>)->Name("ordinary page, StripMarkup");
BENCHMARK(BM_Page<true, true>)
    ->Name("hostile page, whole pattern (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_Page<true, false>)->Name("hostile page, StripMarkup")->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mf

BENCHMARK_MAIN();
