#include <QStringList>
#include <cstdio>

#include "app/command_line.h"
#include "app/display_check.h"
#include "app/proxy_choice.h"
#include "app/search_control.h"
#include "app/site_choice.h"
#include "web/proxy_setting.h"

namespace {

// Arguments decoded as the toolkit will decode them, before there is an application object.
QStringList ArgumentList(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) {
    arguments << QString::fromLocal8Bit(argv[i]);
  }
  return arguments;
}

void Print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

}  // namespace

int main(int argc, char** argv) {
  using Action = mf::WindowCommandLine::Action;
  const QStringList arguments = ArgumentList(argc, argv);
  const mf::WindowCommandLine command = mf::ParseWindowCommandLine(arguments);
  mf::HideProxyPasswords(argc, argv);
  switch (command.action) {
    case Action::kHelp:
      Print(stdout, mf::WindowHelpText());
      return 0;
    case Action::kVersion:
      Print(stdout, mf::VersionText(QStringLiteral("magnet-finder")));
      return 0;
    case Action::kUsageError:
      Print(stderr, QStringLiteral("magnet-finder: %1 (see --help)\n").arg(command.error));
      return 2;
    case Action::kRun:
      break;
  }
  // Broken site files are reported and skipped; a bad --site is a bad argument.
  const mf::SiteCatalogue& sites = mf::WindowSites();
  for (const QString& line : mf::BrokenSiteLines(sites)) {
    Print(stderr, line + u'\n');
  }
  QStringList notes;
  if (const auto error = mf::UseStartSite(command.options, sites, notes)) {
    Print(stderr, QStringLiteral("magnet-finder: %1 (see --help)\n").arg(*error));
    return 2;
  }
  mf::UseStartProxy(command.options, notes);
  for (const QString& note : notes) {
    Print(stderr, note + u'\n');
  }
  if (!mf::HasDisplay(arguments)) {
    Print(stderr, mf::NoDisplayText());
    return 1;
  }
  if (const std::optional<QString> unreachable = mf::UnreachableDisplay(arguments)) {
    Print(stderr, mf::NoDisplayText(*unreachable));
    return 1;
  }
  mf::RunProgram(argc, argv, command.options);
}
