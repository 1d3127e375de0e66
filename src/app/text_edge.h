// Where the program's code-page-936 text meets the toolkit's UTF-16 strings.
#pragma once

#include <QString>

#include "support/text_types.h"

namespace mf {

QString ToQString(const Text& text);
Text FromQString(const QString& string);

}  // namespace mf
