// The site menu, opened by a right-click on the window's title area: every usable site definition
// by name and id (marked when its last live check failed: site_check_mark.h), the site in use
// checked. A pick makes that definition the site in use at once,
// so a running search follows it from its next page, and remembers it for the next start
// (site_choice.h). The page-count box and every other control are left as they are. UI thread
// only.
#pragma once

#include <QString>

class QMenu;
class QPoint;
class QWidget;

namespace mf {

struct SiteCatalogue;
struct SiteDefinition;

// "name (id)", as a menu entry shows it: no control characters, "&" shown as itself.
QString SiteMenuLabel(const SiteDefinition& site);

// The menu "siteMenu", owned by `parent`; each entry's object name is its site's id.
QMenu* CreateSiteMenu(QWidget* parent, const SiteCatalogue& catalogue);

// Opens the menu over WindowSites() at `globalPosition`; it deletes itself once closed.
void OpenSiteMenu(QWidget* parent, QPoint globalPosition);

}  // namespace mf
