// Whether the X display that the window would be shown on can be reached, asked before the
// application object exists: the toolkit ends the process with an abort (and advice to reinstall)
// when its platform cannot start, so the window says why in one line instead. Main thread, once.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace mf {

// Why the X display named by DISPLAY cannot be used ("DISPLAY ':9' cannot be reached"), when the
// window would be shown through X: no platform is named (QT_QPA_PLATFORM, -platform) and
// WAYLAND_DISPLAY is not set, or the one named is xcb. Nothing when it can be, or when another
// platform will be used. Costs one connection to the display server, closed at once.
std::optional<QString> UnreachableDisplay(const QStringList& arguments);

}  // namespace mf
