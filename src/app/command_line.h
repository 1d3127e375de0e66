// The window program's command line: magnet-finder [OPTIONS] [KEYWORD].
//
// Parsed before any application object exists, so that --help, --version and a bad argument
// work on a machine without a display. Main thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "support/text_types.h"

namespace mf {

// What the window starts with.
struct WindowOptions {
  std::optional<QString> site{};       // --site as given: an id, a definition file or an address
  std::optional<Text> mirror{};        // --mirror, checked: the chosen site at this address
  std::optional<QString> keyword{};    // initial text of the keyword box
  std::optional<QString> pageCount{};  // initial text of the page-count box
  bool start = false;                  // press Start once the window is shown
  bool verbose = false;                // every failed request writes a line to stderr
  // --proxy as given (UTF-8), or read from --proxy-file or MAGNET_FINDER_PROXY, checked: used,
  // and remembered unless it came from the environment
  std::optional<std::string> proxy{};
  bool rememberProxy = true;
  bool noProxy = false;  // --no-proxy: the remembered proxy is forgotten
};

struct WindowCommandLine {
  enum class Action { kRun, kHelp, kVersion, kUsageError };
  Action action = Action::kRun;
  WindowOptions options;
  QString error;  // one line naming the bad value, for kUsageError
};

// `arguments` as the program got them, the program name first.
WindowCommandLine ParseWindowCommandLine(const QStringList& arguments);
QString WindowHelpText();
QString VersionText(const QString& program);

// True when the window system can be reached: DISPLAY or WAYLAND_DISPLAY is set, or a platform
// was chosen explicitly (QT_QPA_PLATFORM, or -platform among the arguments).
bool HasDisplay(const QStringList& arguments);
// The one line printed when there is no display, saying why.
QString NoDisplayText(
    const QString& why = QStringLiteral("neither DISPLAY nor WAYLAND_DISPLAY is set"));

}  // namespace mf
