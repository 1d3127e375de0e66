#include "app/link_menu.h"

#include <QDesktopServices>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextBlock>
#include <QUrl>
#include <cstdio>

#include "app/controls.h"
#include "app/text_edge.h"
#include "site/detail_page.h"
#include "site/download_link.h"

namespace mf {
namespace {

const QString kOpenWithDownloadTool = QStringLiteral("用下载工具打开");

// Hands one link to the desktop. QUrl lower-cases a host and so would spoil a link whose
// "host" is data (thunder://QUFo...); such a link goes to xdg-open exactly as written.
void OpenLink(const QString& link) {
  const QUrl url(link);
  if (QString::fromUtf8(url.toEncoded()) ==
      QString::fromUtf8(QUrl::toPercentEncoding(link, QByteArrayLiteral(":/?#[]@!$&'()*+,;=%")))) {
    QDesktopServices::openUrl(url);
  } else {
    QProcess::startDetached(QStringLiteral("xdg-open"), {link});
  }
}

// The link as it is handed over: the page wrote it inside an attribute, where "&amp;" stands
// for "&".
Text DecodedLink(const QString& link) {
  return LinkForOpening(FromQString(link));
}

void OpenLinks(const QStringList& links) {
  // Without it the desktop's fallback would be a web browser, or nothing at all.
  if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
    std::fputs(
        "magnet-finder: no link opened: xdg-open is missing (it comes with the package "
        "xdg-utils: sudo apt install xdg-utils)\n",
        stderr);
    return;
  }
  for (const QString& link : links) {
    OpenLink(ToQString(DecodedLink(link)));
  }
}

}  // namespace

QString LinkOfLine(const QString& line) {
  static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:\\S"));
  const qsizetype colon = line.indexOf(QChar(0xFF1A));
  if (colon < 0) {
    return QString();
  }
  const QString link = line.mid(colon + 1).trimmed();
  return scheme.match(link).hasMatch() ? link : QString();
}

QStringList LinksAt(const QPlainTextEdit& editor, QPoint position) {
  const QTextCursor selection = editor.textCursor();
  QTextBlock block = editor.cursorForPosition(position).block();
  QTextBlock last = block;
  if (selection.hasSelection()) {
    const QTextDocument* document = editor.document();
    block = document->findBlock(selection.selectionStart());
    last = document->findBlock(selection.selectionEnd());
  }
  QStringList links;
  for (; block.isValid(); block = block.next()) {
    const QString link = LinkOfLine(block.text());
    if (!link.isEmpty() && IsDownloadLink(DecodedLink(link))) {
      links << link;
    }
    if (block == last) {
      break;
    }
  }
  return links;
}

QMenu* CreateOutputBoxMenu(QPlainTextEdit& editor, QPoint position) {
  QMenu* menu = editor.createStandardContextMenu(position);
  menu->addSeparator();
  const QStringList links = LinksAt(editor, position);
  QAction* open = menu->addAction(kOpenWithDownloadTool, [links] { OpenLinks(links); });
  open->setObjectName(QStringLiteral("openWithDownloadTool"));
  open->setEnabled(!links.isEmpty());
  return menu;
}

void AddOpenLinksMenu(EditBox& box) {
  auto* editor = qobject_cast<QPlainTextEdit*>(box.Editor());
  if (editor == nullptr) {
    return;
  }
  editor->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(editor, &QWidget::customContextMenuRequested, editor, [editor](QPoint at) {
    QMenu* menu = CreateOutputBoxMenu(*editor, at);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(editor->viewport()->mapToGlobal(at));
  });
}

}  // namespace mf
