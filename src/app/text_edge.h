// Where the program's code-page-936 text meets the toolkit's UTF-16 strings.
#pragma once

#include <QString>

#include "support/text_types.h"

namespace mf {

QString ToQString(const Text& text);
Text FromQString(const QString& string);

// A row's text (title, size, date...) as its site wrote it: code page 936 for a definition whose
// text is the program's own (the built-in site), else the site's own text. The window shows every
// row's text through this.
QString SiteTextToQString(const Text& text, bool programText);

}  // namespace mf
