// Text operations over a whole result page, each beside a same-run baseline:
// - the plain byte search of the standard library (a lower bound: it ignores characters), and
// - a literal character-by-character scan (what a straightforward version of the stepping rule
//   costs).
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "support/text_ops.h"

namespace mf {
namespace {

// About 1 MB of code-page-936 markup, Chinese and ASCII mixed as on a result page.
const Text& Page() {
  static const Text page = [] {
    const Text entry =
        "<div class=\"item\"><a href=\"/detail/20231108\">中文字幕 <span class=\"mhl\">电影</span>"
        " 1080p 高清</a></div>\r\n"_gbk;
    Text text;
    while (text.size() < (1u << 20)) {
      text += entry;
    }
    return text + Text("<footer>end</footer>");
  }();
  return page;
}

// The stepping rule taken literally: compare at every character boundary.
std::int32_t SteppingFind(std::string_view text, std::string_view needle) {
  for (std::size_t i = 0; text.size() - i >= needle.size();) {
    if (text.compare(i, needle.size(), needle) == 0) {
      return static_cast<std::int32_t>(i + 1);
    }
    i += static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
    if (i > text.size()) {
      break;
    }
  }
  return -1;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Page().size()));
}

void BM_FindText(benchmark::State& state) {
  const Text needle("<footer>");
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindText(Page(), needle));
  }
  SetBytes(state);
}
BENCHMARK(BM_FindText);

void BM_Baseline_ByteFind(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(Page().view().find("<footer>"));
  }
  SetBytes(state);
}
BENCHMARK(BM_Baseline_ByteFind);

void BM_Baseline_SteppingFind(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(SteppingFind(Page().view(), "<footer>"));
  }
  SetBytes(state);
}
BENCHMARK(BM_Baseline_SteppingFind);

void BM_FindTextIgnoringCase(benchmark::State& state) {
  const Text needle("<FOOTER>");
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindText(Page(), needle, 1, true));
  }
  SetBytes(state);
}
BENCHMARK(BM_FindTextIgnoringCase);

void BM_ReplaceSubtext(benchmark::State& state) {
  const Text old("<span class=\"mhl\">");
  for (auto _ : state) {
    benchmark::DoNotOptimize(ReplaceSubtext(Page(), old, Text(), 1, std::nullopt, true));
  }
  SetBytes(state);
}
BENCHMARK(BM_ReplaceSubtext);

void BM_Baseline_StringReplace(benchmark::State& state) {
  const std::string_view old = "<span class=\"mhl\">";
  for (auto _ : state) {
    std::string result;
    const std::string_view page = Page().view();
    std::size_t from = 0;
    for (std::size_t at; (at = page.find(old, from)) != std::string_view::npos;
         from = at + old.size()) {
      result.append(page.substr(from, at - from));
    }
    result.append(page.substr(from));
    benchmark::DoNotOptimize(result);
  }
  SetBytes(state);
}
BENCHMARK(BM_Baseline_StringReplace);

void BM_SplitText(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(SplitText(Page(), Text("\r\n")));
  }
  SetBytes(state);
}
BENCHMARK(BM_SplitText);

void BM_TrimSpaces(benchmark::State& state) {
  const Text padded = Text("  ") + Page() + Text("  ");
  for (auto _ : state) {
    benchmark::DoNotOptimize(TrimSpaces(padded));
  }
  SetBytes(state);
}
BENCHMARK(BM_TrimSpaces);

}  // namespace
}  // namespace mf
