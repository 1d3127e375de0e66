#include "app/proxy_choice.h"

#include <optional>
#include <variant>

#include "app/site_choice.h"
#include "web/proxy_setting.h"

namespace mf {
namespace {

const QString kProxyKey = QStringLiteral("network/proxy");

QString Note(const QString& text) {
  return QStringLiteral("magnet-finder: ") + ShownText(text, 1000);
}

}  // namespace

std::string RememberedProxy() {
  return ReadSetting(kProxyKey).toStdString();
}

void UseStartProxy(const WindowOptions& options, QStringList& notes) {
  if (options.noProxy) {
    UseProxy(std::nullopt);
    if (auto error = WriteSetting(kProxyKey, std::nullopt, QStringLiteral("proxy"))) {
      notes << Note(*error);
    }
    return;
  }
  const std::string given = options.proxy ? *options.proxy : RememberedProxy();
  if (given.empty()) {
    UseProxy(std::nullopt);
    return;
  }
  auto proxy = ParseProxy(given);
  if (auto* error = std::get_if<std::string>(&proxy)) {
    // Only a remembered value gets here: --proxy was checked with the command line.
    notes << Note(QStringLiteral("the remembered proxy is not used: %1 (in %2)")
                      .arg(QString::fromStdString(*error), SettingsFile()));
    UseProxy(std::nullopt);
    return;
  }
  UseProxy(std::get<ProxySetting>(std::move(proxy)));
  if (options.proxy && options.rememberProxy) {
    if (auto error =
            WriteSetting(kProxyKey, QString::fromStdString(given), QStringLiteral("proxy"))) {
      notes << Note(*error);
    }
  }
}

}  // namespace mf
