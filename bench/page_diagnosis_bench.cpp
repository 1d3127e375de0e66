// How often the entry pattern's leading literal occurs on a page that gave no entries, beside the
// same-run baseline of a position-by-position search (what the diagnosis did before):
// - an ordinary page: 200 KB with 20 entries, a 9-byte literal;
// - a hostile page: 4 MB of one letter, a literal of 3,000 of that letter and another, which
//   costs the baseline the product of their lengths.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "site/page_diagnosis.h"

namespace mf {
namespace {

std::size_t NaiveCount(std::string_view page, std::string_view literal) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  const auto same = [&](char a, char b) { return lower(a) == lower(b); };
  std::size_t count = 0;
  for (auto at = std::search(page.begin(), page.end(), literal.begin(), literal.end(), same);
       at != page.end(); at = std::search(at + static_cast<std::ptrdiff_t>(literal.size()),
                                          page.end(), literal.begin(), literal.end(), same)) {
    ++count;
  }
  return count;
}

template <bool kHostile, bool kBaseline>
void BM_Count(benchmark::State& state) {
  std::string page;
  std::string literal;
  if (kHostile) {
    page.assign(std::size_t{4} << 20, 'a');
    literal = std::string(3000, 'a') + "b";
  } else {
    for (int i = 0; page.size() < 200 * 1024; ++i) {
      page += (i % 500 == 0 ? "<a href=\"/t/" : "<div class=\"x\">") + std::to_string(i) + "\n";
    }
    literal = "<a href=\"";
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(kBaseline ? NaiveCount(page, literal)
                                       : CountOccurrences(page, literal));
  }
}

BENCHMARK(BM_Count<false, true>)->Name("ordinary page, naive search (baseline)");
BENCHMARK(BM_Count<false, false>)->Name("ordinary page, CountOccurrences");
BENCHMARK(BM_Count<true, true>)
    ->Name("hostile page, naive search (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_Count<true, false>)
    ->Name("hostile page, CountOccurrences")
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mf

BENCHMARK_MAIN();
