#include "cli/progress.h"

#include <unistd.h>

#include "cli/stoppable_run.h"
#include "platform/printable_text.h"

namespace mf::cli {
namespace {

constexpr int kBarWidth = 30;

std::string Bar(int page, int pages) {
  const long filled = pages > 0 ? static_cast<long>(page) * kBarWidth / pages : kBarWidth;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "]";
}

}  // namespace

Progress::Progress(std::FILE* stream, Style style, int pages)
    : stream_(stream), style_(style), pages_(pages) {}

Progress::Style Progress::StyleFor(std::FILE* stream, bool quiet) {
  if (quiet) {
    return Style::kQuiet;
  }
  return isatty(fileno(stream)) ? Style::kBar : Style::kLines;
}

void Progress::PageDone(int page, long rows) {
  const std::string counts = "page " + std::to_string(page) + "/" + std::to_string(pages_) + ": " +
                             std::to_string(rows) + " rows";
  if (style_ == Style::kLines) {
    Write(counts + "\n");
  } else if (style_ == Style::kBar) {
    // Back to the start of the line and the rest of it erased, so a shorter line leaves nothing.
    Write("\r\x1b[K" + Bar(page, pages_) + " " + counts);
    barShown_ = true;
  }
}

void Progress::PageFailed(int page, const std::string& reason) {
  Report("magnet-finder-cli: page " + std::to_string(page) +
         " not fetched: " + platform::PrintableText(reason) + "\n");
}

void Progress::Report(const std::string& line) {
  if (!line.empty()) {
    Clear();
    Write(line);
  }
}

void Progress::Clear() {
  if (barShown_) {
    Write("\r\x1b[K");
    barShown_ = false;
  }
}

void Progress::Write(const std::string& text) {
  const OutputWriteScope writing;
  std::fwrite(text.data(), 1, text.size(), stream_);
  std::fflush(stream_);
}

}  // namespace mf::cli
