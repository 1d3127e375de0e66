// Whether the machine has a font for the window's texts. Every text of the window is Chinese:
// without a font that has those characters each shows as an empty box and nothing says why, so
// at start the window says it once on stderr, naming the package to install. UI thread, once
// the application object exists.
#pragma once

#include <QString>

class QWidget;

namespace mf {

// True when some installed font is for Chinese and every character of the texts of `window` and
// its labels and buttons is in the font that the toolkit draws it with (the widget's font, or the
// fallback it picks for Chinese).
bool FontsCoverTexts(const QWidget& window);

// The one line printed when they do not.
QString NoFontText();

}  // namespace mf
