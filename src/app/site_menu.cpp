#include "app/site_menu.h"

#include <QActionGroup>
#include <QMenu>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/site_check_mark.h"
#include "app/site_choice.h"
#include "site/site_address.h"
#include "site/site_catalogue.h"
#include "site/site_definition.h"

namespace mf {
namespace {

// A pick of the site already in use changes nothing, so an address given with --mirror stays.
void PickSite(const std::shared_ptr<const SiteDefinition>& site) {
  if (CurrentSite().definition->id != site->id) {
    UseSite(site);
  }
  if (auto error = RememberSite(site->id)) {
    const QByteArray line = (QStringLiteral("magnet-finder: ") + *error + u'\n').toLocal8Bit();
    std::fputs(line.constData(), stderr);
  }
}

}  // namespace

QString SiteMenuLabel(const SiteDefinition& site) {
  QString label = ShownText(QString::fromStdString(site.name)) + QStringLiteral(" (") +
                  QString::fromStdString(site.id) + u')';
  // A single "&" would mark the next letter as the entry's shortcut.
  return label.replace(u'&', QStringLiteral("&&"));
}

QMenu* CreateSiteMenu(QWidget* parent, const SiteCatalogue& catalogue) {
  auto* menu = new QMenu(parent);
  menu->setObjectName(QStringLiteral("siteMenu"));
  const std::shared_ptr<const SiteDefinition> inUse = CurrentSite().definition;
  auto sites = catalogue.Usable();
  // A site given as a file on the command line is not in the catalogue, but it is in use.
  if (std::none_of(sites.begin(), sites.end(),
                   [&](const auto& site) { return site->id == inUse->id; })) {
    sites.insert(sites.begin(), inUse);
  }
  auto* group = new QActionGroup(menu);
  const CheckRecords checks = ReadCheckRecords();
  for (const auto& site : sites) {
    QAction* action = menu->addAction(SiteMenuLabel(*site) + LastCheckMark(site->id, checks), menu,
                                      [site] { PickSite(site); });
    action->setObjectName(QString::fromStdString(site->id));
    action->setCheckable(true);
    action->setChecked(site->id == inUse->id);
    group->addAction(action);
  }
  return menu;
}

void OpenSiteMenu(QWidget* parent, QPoint globalPosition) {
  QMenu* menu = CreateSiteMenu(parent, WindowSites());
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(globalPosition);
}

}  // namespace mf
