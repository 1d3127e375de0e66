// How the window chooses its site: at start from --site, else the site remembered from the site
// menu, else the built-in site (each at --mirror when given); later from the site menu in the
// title area (site_menu.h), whose choice is remembered for the next start.
//
// The choice is kept in the settings file, $XDG_CONFIG_HOME/magnet-finder/magnet-finder.conf (by
// default ~/.config/...), an INI file of mode 0600. The site folders are only ever read. Main
// thread (the UI thread) only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "site/site_catalogue.h"

namespace mf {

// The definitions the window offers, loaded on first use and kept for the process.
const SiteCatalogue& WindowSites();

// One line per broken definition file, naming it and its first error, for stderr at start.
QStringList BrokenSiteLines(const SiteCatalogue& catalogue);

// Makes the site the window starts with the site in use (without --site and a remembered choice,
// the built-in site, as the site in use is before any choice). Gives an error line
// naming a bad --site value or MAGNET_FINDER_SITE (a usage error); a remembered site that is no
// longer found adds a line to `notes` and leaves the built-in site.
std::optional<QString> UseStartSite(const WindowOptions& options, const SiteCatalogue& catalogue,
                                    QStringList& notes);

// Where the window's settings are kept.
QString SettingsFile();
// One value of the settings file; empty when the file or the key is missing.
QString ReadSetting(const QString& key);
// Sets `key` to `value`, or removes it with nullopt, in the settings file, which is made (or
// left) mode 0600 before the write; an error line naming the file and `what` ("site") when it
// cannot be written.
std::optional<QString> WriteSetting(const QString& key, const std::optional<QString>& value,
                                    const QString& what);
// The same for a list of texts: ReadSettingList is empty when the file or the key is missing; an
// empty list removes the key.
QStringList ReadSettingList(const QString& key);
std::optional<QString> WriteSettingList(const QString& key, const QStringList& values,
                                        const QString& what);
// The id of the site last chosen in the site menu; empty when none was.
std::string RememberedSiteId();
// Remembers `id` for the next start; an error line when the settings file cannot be written.
std::optional<QString> RememberSite(const std::string& id);

// Whether the list hides the rows without seeders ("隐藏无种子"), as last chosen; false when it
// was never chosen.
bool RememberedHideUnseeded();
// Remembers the choice; an error line when the settings file cannot be written.
std::optional<QString> RememberHideUnseeded(bool hide);

// A text from a definition or the settings file as it may be shown: invalid UTF-8 replaced,
// control and format characters (line breaks, bidirectional overrides) as "?", at most
// `maxLength` characters.
QString ShownText(const QString& text, qsizetype maxLength = 80);

}  // namespace mf
