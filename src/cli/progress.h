// Progress of a walk on stderr: a one-line bar redrawn in place when the stream is a terminal
// (narrower than the terminal, whose width is read at every draw),
// plain "page K/N: R rows" lines otherwise, nothing when asked to be quiet. Failed pages are
// reported in every style. Used by one thread.
#pragma once

#include <cstdio>
#include <string>

namespace mf::cli {

class Progress {
 public:
  enum class Style { kBar, kLines, kQuiet };

  Progress(std::FILE* stream, Style style, int pages);
  // A bar still shown (the walk was stopped) gets its line break.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // kBar for a terminal, kLines otherwise, kQuiet when `quiet`.
  static Style StyleFor(std::FILE* stream, bool quiet);

  // Page `page` has been read; `rows` entries so far.
  void PageDone(int page, long rows);
  void PageFailed(int page, const std::string& reason);
  // A whole line (or nothing) for stderr in every style, with the bar taken off first.
  void Report(const std::string& line);
  // Takes the bar off the line, so that output to the same terminal starts on a clean line; the
  // next PageDone draws it again.
  void Clear();

 private:
  void Write(const std::string& text);

  std::FILE* stream_;
  Style style_;
  int pages_;
  bool barShown_ = false;
};

}  // namespace mf::cli
