#include "app/site_choice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <cerrno>
#include <cstring>
#include <memory>
#include <variant>

#include "app/site_set.h"
#include "site/site_address.h"
#include "site/site_definition.h"

namespace mf {
namespace {

const QString kSiteKey = QStringLiteral("site/id");
const QString kHideUnseededKey = QStringLiteral("list/hide-unseeded");

QString CannotWrite(const QString& what, const QString& path, int error) {
  return QStringLiteral("cannot remember the %1 in %2: %3")
      .arg(what, path, QString::fromLocal8Bit(std::strerror(error)));
}

// The folder (0700, as for the user's own configuration) and the file (0600) exist before
// QSettings writes: it replaces the file by a new one with the old one's mode, so the settings are
// never readable by others, not even for a moment. A file made by hand loses wider rights too.
std::optional<QString> PrepareSettingsFile(const QString& file, const QString& what) {
  const QString folder = QFileInfo(file).path();
  QDir().mkpath(QFileInfo(folder).path());
  if (::mkdir(QFile::encodeName(folder).constData(), 0700) != 0 && errno != EEXIST) {
    return CannotWrite(what, folder, errno);
  }
  const int descriptor = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_CLOEXEC,
                                S_IRUSR | S_IWUSR);
  if (descriptor < 0) {
    return CannotWrite(what, file, errno);
  }
  const bool owned = ::fchmod(descriptor, S_IRUSR | S_IWUSR) == 0;
  const int error = errno;
  ::close(descriptor);
  return owned ? std::nullopt : std::optional<QString>(CannotWrite(what, file, error));
}

// Several sites at the start: "a,b" from --site (a name that cannot be used is an error) or from
// the settings file (a site no longer found adds a note), or "*" for every usable site. Nullopt
// when they came to fewer than two: the caller goes on as for one site.
std::optional<std::variant<std::vector<ChosenSite>, QString>> SeveralStartSites(
    const QString& names, bool given, const SiteCatalogue& catalogue, QStringList& notes) {
  std::vector<ChosenSite> sites;
  if (names == QStringLiteral("*")) {
    for (const auto& site : catalogue.Usable()) {
      sites.push_back({site, Text()});
    }
  } else {
    for (const QString& name : names.split(u',', Qt::SkipEmptyParts)) {
      auto chosen = ChooseSite(QFile::encodeName(name.trimmed()).toStdString(), catalogue);
      if (auto* error = std::get_if<std::string>(&chosen)) {
        if (given) {
          return QStringLiteral("--site: ") + QString::fromStdString(*error);
        }
        notes << QStringLiteral("magnet-finder: the site chosen before, '%1', is no longer found")
                     .arg(ShownText(name));
        continue;
      }
      sites.push_back(std::get<ChosenSite>(chosen));
    }
  }
  if (sites.size() < 2) {
    return std::nullopt;
  }
  return sites;
}

}  // namespace

const SiteCatalogue& WindowSites() {
  // Never destroyed: the process ends with quick_exit, and workers may still use a definition.
  static const SiteCatalogue* const sites = new SiteCatalogue(LoadSiteCatalogue());
  return *sites;
}

QStringList BrokenSiteLines(const SiteCatalogue& catalogue) {
  QStringList lines;
  for (const CatalogueEntry& entry : catalogue.entries) {
    if (entry.definition) {
      continue;
    }
    QString first = QString::fromStdString(entry.file + ": error: broken");
    for (const SiteProblem& problem : entry.problems) {
      if (problem.severity == SiteProblem::Severity::kError) {
        first = QString::fromStdString(problem.ToString());
        break;
      }
    }
    lines << QStringLiteral("magnet-finder: skipped ") + ShownText(first, 1000);
  }
  return lines;
}

std::optional<QString> UseStartSite(const WindowOptions& options, const SiteCatalogue& catalogue,
                                    QStringList& notes) {
  UseOneSite();
  const bool givenSeveral = options.site && options.site->contains(u',');
  const QString remembered = QString::fromStdString(RememberedSiteId());
  if (givenSeveral || (!options.site && (remembered == u'*' || remembered.contains(u',')))) {
    auto several = SeveralStartSites(givenSeveral ? *options.site : remembered, givenSeveral,
                                     catalogue, notes);
    if (several) {
      if (auto* error = std::get_if<QString>(&*several)) {
        return *error;
      }
      UseSites(std::get<std::vector<ChosenSite>>(*several), options.mirror.value_or(Text()));
      return std::nullopt;
    }
  }
  std::shared_ptr<const SiteDefinition> definition;
  Text base;
  if (options.site) {
    auto chosen = ChooseSite(QFile::encodeName(*options.site).toStdString(), catalogue);
    if (auto* error = std::get_if<std::string>(&chosen)) {
      return QStringLiteral("--site: ") + QString::fromStdString(*error);
    }
    definition = std::get<ChosenSite>(chosen).definition;
    base = std::get<ChosenSite>(chosen).base;
  } else if (const std::string id = RememberedSiteId(); !id.empty()) {
    definition = catalogue.Find(id);
    if (!definition) {
      notes << QStringLiteral(
                   "magnet-finder: the site chosen before, '%1', is no longer found; using the "
                   "built-in site")
                   .arg(ShownText(QString::fromStdString(id)));
    }
  }
  if (options.mirror) {
    base = *options.mirror;
  }
  if (base.empty()) {
    auto environment = SiteFromEnvironment();
    if (auto* error = std::get_if<std::string>(&environment)) {
      return QString::fromStdString(*error);
    }
    base = std::get<Text>(environment);
  }
  if (!definition) {
    definition = std::shared_ptr<const SiteDefinition>(&BuiltInSite(), [](const auto*) {});
  }
  UseSite(definition, base.empty() ? std::nullopt : std::optional<Text>(base));
  return std::nullopt;
}

QString SettingsFile() {
  const QByteArray config = qgetenv("XDG_CONFIG_HOME");
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the base-directory rules say.
  const QString folder = config.startsWith('/') ? QFile::decodeName(config)
                                                : QDir::homePath() + QStringLiteral("/.config");
  return folder + QStringLiteral("/magnet-finder/magnet-finder.conf");
}

namespace {

QVariant ReadSettingValue(const QString& key) {
  const QString file = SettingsFile();
  if (!QFileInfo::exists(file)) {
    return QVariant();
  }
  return QSettings(file, QSettings::IniFormat).value(key);
}

std::optional<QString> WriteSettingValue(const QString& key, const std::optional<QVariant>& value,
                                         const QString& what) {
  const QString file = SettingsFile();
  if (!value && !QFileInfo::exists(file)) {
    return std::nullopt;  // nothing to forget
  }
  if (auto error = PrepareSettingsFile(file, what)) {
    return error;
  }
  QSettings settings(file, QSettings::IniFormat);
  if (value) {
    settings.setValue(key, *value);
  } else {
    settings.remove(key);
  }
  settings.sync();
  if (settings.status() != QSettings::NoError) {
    return QStringLiteral("cannot remember the %1 in %2").arg(what, file);
  }
  return std::nullopt;
}

}  // namespace

QString ReadSetting(const QString& key) {
  return ReadSettingValue(key).toString();
}

std::optional<QString> WriteSetting(const QString& key, const std::optional<QString>& value,
                                    const QString& what) {
  return WriteSettingValue(key, value ? std::optional<QVariant>(*value) : std::nullopt, what);
}

QStringList ReadSettingList(const QString& key) {
  return ReadSettingValue(key).toStringList();
}

std::optional<QString> WriteSettingList(const QString& key, const QStringList& values,
                                        const QString& what) {
  return WriteSettingValue(key, values.isEmpty() ? std::nullopt : std::optional<QVariant>(values),
                           what);
}

std::string RememberedSiteId() {
  return ReadSetting(kSiteKey).toStdString();
}

std::optional<QString> RememberSite(const std::string& id) {
  return WriteSetting(kSiteKey, QString::fromStdString(id), QStringLiteral("site"));
}

bool RememberedHideUnseeded() {
  return ReadSetting(kHideUnseededKey) == QStringLiteral("true");
}

std::optional<QString> RememberHideUnseeded(bool hide) {
  return WriteSetting(kHideUnseededKey, hide ? QStringLiteral("true") : QStringLiteral("false"),
                      QStringLiteral("list setting"));
}

QString ShownText(const QString& text, qsizetype maxLength) {
  QString shown;
  shown.reserve(std::min(text.size(), maxLength));
  for (const QChar c : text) {
    const QChar::Category category = c.category();
    const bool hidden = category == QChar::Other_Control || category == QChar::Other_Format ||
                        category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
    shown += hidden ? QChar(u'?') : c;
  }
  if (shown.size() > maxLength) {
    qsizetype keep = maxLength - 1;
    if (keep > 0 && shown.at(keep - 1).isHighSurrogate()) {
      --keep;
    }
    shown = shown.left(keep) + QChar(0x2026);
  }
  return shown;
}

}  // namespace mf
