#include "app/display_check.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace mf {
namespace {

QString Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? QString() : QString::fromLocal8Bit(value);
}

// The platform named on the command line (-platform NAME, --platform=NAME) or by
// QT_QPA_PLATFORM, which the toolkit takes in that order; empty when none is.
QString NamedPlatform(const QStringList& arguments) {
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if ((argument == QStringLiteral("-platform") || argument == QStringLiteral("--platform")) &&
        i + 1 < arguments.size()) {
      return arguments[i + 1];
    }
    for (const QString& prefix : {QStringLiteral("-platform="), QStringLiteral("--platform=")}) {
      if (argument.startsWith(prefix)) {
        return argument.mid(prefix.size());
      }
    }
  }
  return Environment("QT_QPA_PLATFORM");
}

}  // namespace

std::optional<QString> UnreachableDisplay(const QStringList& arguments) {
  const QString platform = NamedPlatform(arguments);
  const bool throughX = platform.isEmpty() ? Environment("WAYLAND_DISPLAY").isEmpty()
                                           : platform.startsWith(QStringLiteral("xcb"));
  const QString display = Environment("DISPLAY");
  if (!throughX || display.isEmpty()) {
    return std::nullopt;
  }
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool reached = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  if (reached) {
    return std::nullopt;
  }
  return QStringLiteral("DISPLAY '%1' cannot be reached").arg(display);
}

}  // namespace mf
