// Start-up and exit, and the search run: Start, Stop, the page loop and its status texts.
#pragma once

#include <functional>
#include <mutex>

#include "app/command_line.h"
#include "support/text_types.h"
#include "support/threads.h"

namespace mf {

class MainWindow;
class RegExpMatcher;
class regex;

// Program-wide state, created before the window and living until the program ends.
// The handle of the last search worker; never closed and never reset.
extern ThreadHandle WorkerThreadHandle;

// The search worker and the magnet threads share the next three. Each holds PageWorkLock from
// the moment it stores a fetched page until it has read the last match, so the two never see
// each other's page or matches. The fetch itself runs outside the lock: downloads overlap, the
// matching takes turns. Nothing on the UI thread takes it.
extern std::mutex PageWorkLock;
// The most recently fetched page, in code page 936. Guarded by PageWorkLock.
extern Text PageText;
// The pattern that strips highlight markup from result titles. Guarded by PageWorkLock.
extern regex* MarkupPattern;
// The matcher of result entries and magnet links. Guarded by PageWorkLock.
extern RegExpMatcher* EntryMatcher;

// Creates MarkupPattern and EntryMatcher; main thread, before the window.
void InitGlobals();
// Frees PageText and destroys MarkupPattern and EntryMatcher; main thread, at the end.
void ReleaseGlobals();

// Handlers of the window's controls; UI thread. Pointer positions and modifier keys are ignored.
void OnStartClick();
void OnStopClick();
void OnCloseLabelPress(int x, int y, int modifierKeys);
void OnMinimizeLabelPress(int x, int y, int modifierKeys);

// The search worker's thread routine: pages 1 to the page count, then "解析完毕" (with the number
// of pages that could not be fetched, "解析完毕（2页获取失败）", when there were any; when the
// walk ended because the site gave no answer, "解析完毕（站点无法连接：右键标题栏可换站点）").
std::uint32_t SearchWorker(void* unused);

// What the worker calls for each page; false when the page could not be fetched. Tests put fakes
// here; the default is ScrapeResultPage.
using PageScraper = bool (*)(const Text& keyword, const Text& page);
void SetPageScraper(PageScraper scraper);

// The whole program: globals, window, message loop, then the end of the process (never returns
// normally). The window starts with `options` (initial texts, Start pressed; the site is chosen
// before, UseStartSite in site_choice.h); `onShown`, when given, runs once the window is on the
// screen.
[[noreturn]] void RunProgram(int& argc, char** argv, const WindowOptions& options = {},
                             const std::function<void(MainWindow&)>& onShown = {});

}  // namespace mf
