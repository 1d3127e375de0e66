// Writes demo-site pages into the seed corpora: a few result pages (plain, and with the quirks
// that stay small) to <corpus>/result_page_fuzz/ and a few detail pages to <corpus>/magnet_fuzz/.
// Rerun it when the page generator changes:
//   build/bin/write_demo_seeds tests/fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "demo_pages.h"

namespace {

namespace fs = std::filesystem;
using mf::demo::PageQuirk;

bool Write(const fs::path& file, std::string_view body) {
  std::ofstream out(file, std::ios::binary);
  out.write(body.data(), static_cast<std::streamsize>(body.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_demo_seeds CORPUS_DIR\n");
    return 2;
  }
  const fs::path corpus = argv[1];
  const struct {
    const char* name;
    PageQuirk quirk;
  } resultPages[] = {{"plain", PageQuirk::kNone},
                     {"invalid_utf8", PageQuirk::kInvalidUtf8},
                     {"zero_byte", PageQuirk::kZeroByte},
                     {"split_entry", PageQuirk::kSplitEntry},
                     {"upper_href", PageQuirk::kUpperHref}};
  bool written = true;
  int page = 1;
  for (const auto& [name, quirk] : resultPages) {
    const std::string body = mf::demo::MakeResultPage("电影", page++, quirk).body;
    written &= Write(corpus / "result_page_fuzz" / (std::string("demo_") + name + ".html"), body);
  }
  for (const char* id : {"0123456789abcdef", "00000000000000ff"}) {
    const std::optional<mf::demo::DetailPage> detail = mf::demo::MakeDetailPage(id);
    written &= detail &&
               Write(corpus / "magnet_fuzz" / (std::string("demo_") + id + ".html"), detail->body);
  }
  if (!written) {
    std::fprintf(stderr, "write_demo_seeds: could not write every page under %s\n", corpus.c_str());
  }
  return written ? 0 : 1;
}
