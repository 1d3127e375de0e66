#include "cli/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "cli/stoppable_run.h"
#include "platform/printable_text.h"

namespace mf::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr int kNarrowestBar = 5;

std::string Bar(int page, int pages, int width) {
  const long filled = pages > 0 ? static_cast<long>(page) * width / pages : width;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(width - filled), '.') + "]";
}

// The terminal's width now, so that a resized window (SIGWINCH) is followed at the next draw.
int Columns(std::FILE* stream) {
  winsize size{};
  return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// The bar and the counts in fewer columns than `columns`: a line that reached the last column
// would wrap on some terminals, and "\r\x1b[K" would then erase only its second row.
std::string FittedBarLine(int page, int pages, const std::string& counts, int columns) {
  const int room = columns - 1;
  const int barWidth = std::min(kBarWidth, room - 3 - static_cast<int>(counts.size()));
  if (barWidth < kNarrowestBar) {
    return counts.substr(0, static_cast<std::size_t>(std::max(room, 0)));
  }
  return Bar(page, pages, barWidth) + " " + counts;
}

// `text` cut to at most `columns` characters, "…" marking the cut; every character of a line of
// several sites takes one column (ids are ASCII, the separators "·").
std::string FittedToColumns(const std::string& text, int columns) {
  int counted = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) {
      continue;  // a continuation byte
    }
    if (++counted == columns) {
      // The character at i is the last that fits: it makes way for the ellipsis, unless the
      // text ends with it.
      std::size_t next = i + 1;
      while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80) {
        ++next;
      }
      return next == text.size() ? text : text.substr(0, i) + "…";
    }
  }
  return columns > 0 ? text : std::string();
}

}  // namespace

Progress::Progress(std::FILE* stream, Style style, int pages)
    : stream_(stream), style_(style), pages_(pages) {}

Progress::Progress(std::FILE* stream, Style style, std::vector<Site> sites)
    : stream_(stream), style_(style), pages_(0), sites_(std::move(sites)), counts_(sites_.size()) {}

Progress::~Progress() {
  if (barShown_) {
    Write("\n");  // a walk ended by a signal: the shell's prompt starts on a line of its own
  }
}

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
    Draw(FittedBarLine(page, pages_, counts, Columns(stream_)));
  }
}

void Progress::SitePageDone(std::size_t site, int page, long rows) {
  counts_[site] = {page, rows};
  if (style_ == Style::kLines) {
    Write(sites_[site].id + ": page " + std::to_string(page) + "/" +
          std::to_string(sites_[site].pages) + ": " + std::to_string(rows) + " rows\n");
  } else if (style_ == Style::kBar) {
    std::string line;
    for (std::size_t i = 0; i < sites_.size(); ++i) {
      line += (i == 0 ? "" : " · ") + sites_[i].id + " " + std::to_string(counts_[i].page) + "/" +
              std::to_string(sites_[i].pages) + " " + std::to_string(counts_[i].rows);
    }
    Draw(FittedToColumns(line, Columns(stream_) - 1));
  }
}

void Progress::SitePageFailed(std::size_t site, int page, const std::string& reason) {
  Report("magnet-finder-cli: " + sites_[site].id + ": page " + std::to_string(page) +
         " not fetched: " + platform::PrintableText(reason) + "\n");
}

// Back to the start of the line and the rest of it erased, so a shorter line leaves nothing.
void Progress::Draw(const std::string& line) {
  Write("\r\x1b[K" + line);
  barShown_ = true;
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
