#include "app/site_menu.h"

#include <QGuiApplication>
#include <QMenu>
#include <algorithm>
#include <cstdio>
#include <memory>

#include "app/site_check_mark.h"
#include "app/site_choice.h"
#include "app/site_set.h"
#include "site/site_address.h"
#include "site/site_catalogue.h"
#include "site/site_definition.h"

namespace mf {
namespace {

// A pick of the site already in use changes nothing, so an address given with --mirror stays.
void ReportUnremembered(const std::optional<QString>& error);

void PickSite(const std::shared_ptr<const SiteDefinition>& site) {
  UseOneSite();
  if (CurrentSite().definition->id != site->id) {
    UseSite(site);
  }
  ReportUnremembered(RememberSite(site->id));
}

void ReportUnremembered(const std::optional<QString>& error) {
  if (error) {
    const QByteArray line = (QStringLiteral("magnet-finder: ") + *error + u'\n').toLocal8Bit();
    std::fputs(line.constData(), stderr);
  }
}

// Several sites at once, remembered as their ids ("*" for every site).
void PickSites(const std::vector<std::shared_ptr<const SiteDefinition>>& sites, bool every) {
  std::vector<ChosenSite> chosen;
  for (const auto& site : sites) {
    chosen.push_back({site, Text()});
  }
  UseSites(chosen);
  ReportUnremembered(RememberSite(every ? std::string("*") : JoinedSiteIds(sites)));
}

// A Ctrl+click adds the site to those in use, or takes it out (one always stays).
void ToggleSite(const std::shared_ptr<const SiteDefinition>& site) {
  std::vector<std::shared_ptr<const SiteDefinition>> sites = SiteDefinitionsInUse();
  const auto found = std::find_if(sites.begin(), sites.end(),
                                  [&](const auto& inUse) { return inUse->id == site->id; });
  if (found == sites.end()) {
    sites.push_back(site);
  } else if (sites.size() > 1) {
    sites.erase(found);
  }
  if (sites.size() == 1) {
    PickSite(sites.front());
  } else {
    PickSites(sites, false);
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
  const std::shared_ptr<const SiteDefinition> current = CurrentSite().definition;
  auto sites = catalogue.Usable();
  // A site given as a file on the command line is not in the catalogue, but it is in use.
  if (std::none_of(sites.begin(), sites.end(),
                   [&](const auto& site) { return site->id == current->id; })) {
    sites.insert(sites.begin(), current);
  }
  const auto inUse = SiteDefinitionsInUse();
  const auto used = [&](const SiteDefinition& site) {
    return std::any_of(inUse.begin(), inUse.end(),
                       [&](const auto& one) { return one->id == site.id; });
  };
  QAction* every =
      menu->addAction(QStringLiteral("全部站点"), menu, [sites] { PickSites(sites, true); });
  every->setObjectName(QStringLiteral("allSites"));
  every->setCheckable(true);
  every->setChecked(sites.size() > 1 && std::all_of(sites.begin(), sites.end(),
                                                    [&](const auto& site) { return used(*site); }));
  every->setEnabled(sites.size() > 1);
  menu->addSeparator();
  const CheckRecords checks = ReadCheckRecords();
  for (const auto& site : sites) {
    // A click picks the site alone; a Ctrl+click ticks it beside the others.
    QAction* action =
        menu->addAction(SiteMenuLabel(*site) + LastCheckMark(site->id, checks), menu, [site] {
          if (QGuiApplication::keyboardModifiers() & Qt::ControlModifier) {
            ToggleSite(site);
          } else {
            PickSite(site);
          }
        });
    action->setObjectName(QString::fromStdString(site->id));
    action->setCheckable(true);
    action->setChecked(used(*site));
  }
  return menu;
}

void OpenSiteMenu(QWidget* parent, QPoint globalPosition) {
  QMenu* menu = CreateSiteMenu(parent, WindowSites());
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(globalPosition);
}

}  // namespace mf
