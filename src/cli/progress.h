// Progress of a walk on stderr: a one-line bar redrawn in place when the stream is a terminal
// (narrower than the terminal, whose width is read at every draw),
// plain "page K/N: R rows" lines otherwise, nothing when asked to be quiet. Failed pages are
// reported in every style. Used by one thread.
//
// A walk of several sites names each by its id: the bar is "a 3/10 45 · b 2/5 30" (page, page
// count and rows found, per site), the lines are "a: page 3/10: 45 rows", and a failed page is
// "magnet-finder-cli: a: page 3 not fetched: REASON".
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace mf::cli {

class Progress {
 public:
  enum class Style { kBar, kLines, kQuiet };

  Progress(std::FILE* stream, Style style, int pages);
  // Several sites: their ids and page counts.
  struct Site {
    std::string id;
    int pages = 0;
  };
  Progress(std::FILE* stream, Style style, std::vector<Site> sites);
  // A bar still shown (the walk was stopped) gets its line break.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // kBar for a terminal, kLines otherwise, kQuiet when `quiet`.
  static Style StyleFor(std::FILE* stream, bool quiet);

  // Page `page` has been read; `rows` entries so far.
  void PageDone(int page, long rows);
  void PageFailed(int page, const std::string& reason);
  // Several sites: page `page` of site `site` (its place in the list) has been read; the site
  // has found `rows` entries so far.
  void SitePageDone(std::size_t site, int page, long rows);
  void SitePageFailed(std::size_t site, int page, const std::string& reason);
  // A whole line (or nothing) for stderr in every style, with the bar taken off first.
  void Report(const std::string& line);
  // Takes the bar off the line, so that output to the same terminal starts on a clean line; the
  // next PageDone draws it again.
  void Clear();

 private:
  void Write(const std::string& text);
  void Draw(const std::string& line);

  struct Count {
    int page = 0;
    long rows = 0;
  };

  std::FILE* stream_;
  Style style_;
  int pages_;
  std::vector<Site> sites_;
  std::vector<Count> counts_;
  bool barShown_ = false;
};

}  // namespace mf::cli
