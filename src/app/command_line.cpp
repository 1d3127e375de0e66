#include "app/command_line.h"

#include <QCommandLineParser>
#include <QFile>
#include <QRegularExpression>
#include <cstdlib>
#include <string>
#include <variant>

#include "site/site_address.h"
#include "web/proxy_setting.h"

#ifndef MF_VERSION
#define MF_VERSION "unknown"
#endif

namespace mf {
namespace {

// Options of the toolkit and the window system (and the session manager's -session, with which it
// restores the window), which the application object takes out of the arguments later; accepted
// here, values and all, so that they are neither refused nor taken for the keyword, and not shown
// in the help.
void AcceptToolkitOptions(QCommandLineParser& parser) {
  for (const char* name :
       {"platform", "platformpluginpath", "platformtheme", "plugin", "display", "style",
        "stylesheet", "geometry", "qwindowgeometry", "title", "qwindowtitle", "icon", "qwindowicon",
        "session", "name", "visual", "qmljsdebugger"}) {
    QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(option);
  }
  for (const char* name : {"reverse", "nograb", "dograb", "sync", "widgetcount", "testability"}) {
    QCommandLineOption flag(QString::fromLatin1(name));
    flag.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(flag);
  }
}

bool IsPageCount(const QString& text) {
  static const QRegularExpression digits(QStringLiteral("^[0-9]{1,10}$"));
  return digits.match(text).hasMatch() && text.toLongLong() <= 2147483647;
}

// The address given with --mirror, checked; an error line naming a bad one.
std::variant<std::optional<Text>, QString> MirrorOption(const QCommandLineParser& parser) {
  if (!parser.isSet(QStringLiteral("mirror"))) {
    return std::optional<Text>();
  }
  const QByteArray given = parser.value(QStringLiteral("mirror")).toUtf8();
  auto mirror =
      ParseSiteAddress(std::string_view(given.constData(), static_cast<std::size_t>(given.size())));
  if (auto* error = std::get_if<std::string>(&mirror)) {
    return QStringLiteral("--mirror: ") + QString::fromStdString(*error);
  }
  return std::optional<Text>(std::get<Text>(mirror));
}

// The proxy given with --proxy or --proxy-file, else by MAGNET_FINDER_PROXY (used, not
// remembered), checked; an error line naming a bad one (its password "***").
std::variant<std::optional<std::string>, QString> ProxyOption(const QCommandLineParser& parser,
                                                              bool& remember) {
  remember = true;
  std::string given;
  QString from;
  if (parser.isSet(QStringLiteral("proxy-file"))) {
    from = QStringLiteral("--proxy-file");
    ProxyFile file =
        ReadProxyFile(QFile::encodeName(parser.value(QStringLiteral("proxy-file"))).toStdString());
    if (!file.error.empty()) {
      return from + QStringLiteral(": ") + QString::fromStdString(file.error);
    }
    given = std::move(file.address);
  } else if (parser.isSet(QStringLiteral("proxy"))) {
    from = QStringLiteral("--proxy");
    given = parser.value(QStringLiteral("proxy")).toStdString();
  } else if (const char* variable = std::getenv(kProxyVariable);
             variable != nullptr && *variable != '\0' &&
             !parser.isSet(QStringLiteral("no-proxy"))) {
    from = QString::fromLatin1(kProxyVariable);
    given = variable;
    remember = false;
  } else {
    return std::optional<std::string>();
  }
  auto proxy = ParseProxy(given);
  if (auto* error = std::get_if<std::string>(&proxy)) {
    return from + QStringLiteral(": ") + QString::fromStdString(*error);
  }
  return std::optional<std::string>(given);
}

}  // namespace

WindowCommandLine ParseWindowCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringLiteral("version"));
  const QCommandLineOption site(QStringLiteral("site"), QString(), QStringLiteral("ID|FILE|URL"));
  const QCommandLineOption mirror(QStringLiteral("mirror"), QString(), QStringLiteral("URL"));
  const QCommandLineOption pages(QStringLiteral("pages"), QString(), QStringLiteral("N"));
  const QCommandLineOption start(QStringLiteral("start"));
  const QCommandLineOption verbose(QStringLiteral("verbose"));
  const QCommandLineOption proxy(QStringLiteral("proxy"), QString(), QStringLiteral("URL"));
  const QCommandLineOption proxyFile(QStringLiteral("proxy-file"), QString(),
                                     QStringLiteral("FILE"));
  const QCommandLineOption noProxy(QStringLiteral("no-proxy"));
  parser.addOptions(
      {help, version, site, mirror, pages, start, verbose, proxy, proxyFile, noProxy});
  AcceptToolkitOptions(parser);
  parser.addPositionalArgument(QStringLiteral("keyword"), QString());

  WindowCommandLine result;
  const auto fail = [&result](const QString& error) {
    result.action = WindowCommandLine::Action::kUsageError;
    result.error = error;
    return result;
  };
  if (!parser.parse(arguments)) {
    return fail(parser.errorText());
  }
  if (parser.isSet(help)) {
    result.action = WindowCommandLine::Action::kHelp;
    return result;
  }
  if (parser.isSet(version)) {
    result.action = WindowCommandLine::Action::kVersion;
    return result;
  }
  const QStringList words = parser.positionalArguments();
  if (words.size() > 1) {
    return fail(QStringLiteral("one keyword at most (quote a keyword with spaces): '%1'")
                    .arg(words.join(QLatin1Char(' '))));
  }
  if (parser.isSet(pages) && !IsPageCount(parser.value(pages))) {
    return fail(
        QStringLiteral("--pages takes a whole number of pages: '%1'").arg(parser.value(pages)));
  }
  auto chosenMirror = MirrorOption(parser);
  if (auto* error = std::get_if<QString>(&chosenMirror)) {
    return fail(*error);
  }
  result.options.mirror = std::get<std::optional<Text>>(chosenMirror);
  if (parser.isSet(proxy) && parser.isSet(noProxy)) {
    return fail(QStringLiteral("--proxy and --no-proxy exclude each other"));
  }
  if (parser.isSet(proxyFile) && (parser.isSet(proxy) || parser.isSet(noProxy))) {
    return fail(QStringLiteral("--proxy-file excludes --proxy and --no-proxy"));
  }
  auto chosenProxy = ProxyOption(parser, result.options.rememberProxy);
  if (auto* error = std::get_if<QString>(&chosenProxy)) {
    return fail(*error);
  }
  result.options.proxy = std::get<std::optional<std::string>>(chosenProxy);
  result.options.noProxy = parser.isSet(noProxy);
  if (parser.isSet(site)) {
    result.options.site = parser.value(site);
  }
  if (!words.isEmpty()) {
    result.options.keyword = words.first();
  }
  if (parser.isSet(pages)) {
    result.options.pageCount = parser.value(pages);
  }
  result.options.start = parser.isSet(start);
  result.options.verbose = parser.isSet(verbose);
  return result;
}

QString WindowHelpText() {
  return QStringLiteral(
      "Usage: magnet-finder [OPTIONS] [KEYWORD]\n"
      "\n"
      "Finds magnet links on a torrent-index site. Type a keyword, press 开始 (Start): the\n"
      "result pages are walked one after another and every entry becomes a row. Double-click a\n"
      "row for its magnet links; right-click a link to open it with the download tool.\n"
      "Right-click the title area to choose the site (Ctrl+click ticks several, searched at\n"
      "once); the choice is kept for the next start.\n"
      "\n"
      "  KEYWORD        the keyword to start with (default 纪录片)\n"
      "  --site ID|FILE|URL\n"
      "                 the site: a definition's id (magnet-finder-cli sites lists them), a\n"
      "                 definition file (.yaml), or an http:// or https:// address (the built-in\n"
      "                 site there); default: the site last chosen in the window, else the\n"
      "                 built-in one; several, separated by commas, are searched at once\n"
      "  --mirror URL   the chosen site at this address: URL takes the place of the scheme,\n"
      "                 host and port of each of its mirrors, their paths kept (default: the\n"
      "                 environment variable MAGNET_FINDER_SITE, else the site's own mirrors,\n"
      "                 tried in order)\n"
      "  --pages N      how many result pages a search walks (default 100)\n"
      "  --start        start the search as soon as the window is shown\n"
      "  --proxy URL    every request goes through this proxy from now on, remembered for the\n"
      "                 next starts: http://HOST:PORT, https://HOST:PORT, socks5h://HOST:PORT\n"
      "                 (the proxy resolves the site's name) or socks5://HOST:PORT; add\n"
      "                 user:password@ before HOST for a proxy that asks for them, with '@',\n"
      "                 ':' and '/' in them percent-encoded (%40, %3A, %2F). Without a port:\n"
      "                 80, 443, 1080. The password is never shown (***) and is blanked in the\n"
      "                 process list once read, which every user may see before that: give it\n"
      "                 rather with --proxy-file or MAGNET_FINDER_PROXY\n"
      "  --proxy-file FILE\n"
      "                 the --proxy URL from the first line of FILE, which must be your own\n"
      "                 regular file that no one else may read or write (chmod 600)\n"
      "  --no-proxy     forget the remembered proxy: http_proxy, https_proxy and no_proxy\n"
      "                 count again, as they do while no proxy was given\n"
      "  --verbose      every failed request writes one line to stderr (time, method, address,\n"
      "                 reason, duration), and so does each mirror passed over or answering\n"
      "  --version      print the version and exit\n"
      "  -h, --help     print this help and exit\n"
      "\n"
      "The toolkit's own options (-session, -qwindowgeometry, -qwindowtitle, -name, ...) are\n"
      "taken too.\n"
      "Without a display, use magnet-finder-cli, or a virtual display: xvfb-run -a magnet-finder\n"
      "Environment: MAGNET_FINDER_SITE (the address of the chosen site), MAGNET_FINDER_LOG=1\n"
      "(every failed request writes one line to stderr), MAGNET_FINDER_PROXY (the proxy, as\n"
      "--proxy takes it, for this start when no option gives one; not remembered), http_proxy,\n"
      "https_proxy and no_proxy (the proxy while none is given or remembered).\n"
      "Files: ~/.config/magnet-finder/magnet-finder.conf (the site chosen in the window and\n"
      "the proxy, readable by you alone),\n"
      "~/.local/share/magnet-finder/sites/ (your site definitions; a broken one is reported on\n"
      "stderr in one line and skipped).\n"
      "Exit status: 0 when the window was closed, 1 without a display (or one that cannot be\n"
      "reached), 2 for a bad argument.\n");
}

QString VersionText(const QString& program) {
  return program + QStringLiteral(" ") + QStringLiteral(MF_VERSION) + QStringLiteral("\n");
}

bool HasDisplay(const QStringList& arguments) {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      return true;
    }
  }
  return arguments.contains(QStringLiteral("-platform")) ||
         arguments.contains(QStringLiteral("--platform"));
}

QString NoDisplayText(const QString& why) {
  return QStringLiteral(
             "magnet-finder: no display (%1); in a terminal use magnet-finder-cli, or show the "
             "window on a virtual display: xvfb-run -a magnet-finder\n")
      .arg(why);
}

}  // namespace mf
