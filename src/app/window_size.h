// The window's size: a grip in its lower-right corner makes it larger than the default 584×356
// (never smaller), the list and the output box taking the room; the size is kept in the settings
// file (site_choice.h) for the next start. At the default size every control keeps the geometry of
// the window's fixed layout. The window stays fixed-size for the window system: only the grip
// changes it. UI thread only.
#pragma once

#include <QSize>
#include <QString>
#include <optional>

class QWidget;

namespace mf {

class MainWindow;

// The size kept in the settings file as "WIDTHxHEIGHT" (e.g. "800x500"); nullopt when none is
// kept or the text is not such a size.
std::optional<QSize> RememberedWindowSize();
// `wanted` within `room` (the screen's available area), but never below the default size.
QSize ClampedWindowSize(QSize wanted, QSize room);

// Gives the window its grip and lets its controls follow its size.
void MakeResizable(MainWindow& window);
// Sets the window to the remembered size, clamped to its screen; before it is shown.
void RestoreWindowSize(MainWindow& window);
// Sets the window's size (clamped) as the grip does; nothing is remembered.
void ResizeWindow(MainWindow& window, QSize size);

}  // namespace mf
