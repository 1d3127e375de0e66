#include "app/toolkit_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace mf {

QString ToolkitTranslationsFolder() {
  return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool LoadToolkitTranslations(const QString& folder) {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace mf
