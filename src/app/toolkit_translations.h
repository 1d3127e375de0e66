// The toolkit's own texts (the edit boxes' context menus: copy, paste, select all, ...) in
// Chinese, like every text of the window. They come from the toolkit's translation files
// (Debian's qt6-translations-l10n); without them those texts stay English and nothing else
// changes.
#pragma once

#include <QString>

namespace mf {

// The toolkit's folder of translation files.
QString ToolkitTranslationsFolder();

// Installs the toolkit's Chinese translation from `folder` in the running application; false
// (and nothing installed) when the folder has none. Main thread, after the application object.
bool LoadToolkitTranslations(const QString& folder = ToolkitTranslationsFolder());

}  // namespace mf
