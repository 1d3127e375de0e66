// The output box's context menu: the editor's usual entries and "用下载工具打开" (open with the
// download tool), which hands the link of the line under the pointer, or of every selected line,
// to the desktop's handler for its scheme (magnet:, thunder:, ...): through QDesktopServices, or
// through xdg-open for a link that a QUrl would change. Only download links go; the entry is
// disabled when there is none, and the box's lines stay as they are. UI thread only.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

class QMenu;
class QPlainTextEdit;

namespace mf {

class EditBox;

// The link on one line of the output box: what follows the first "：" when it starts with a
// scheme ("磁3：magnet:?xt=..." gives "magnet:?xt=..."); empty when the line holds none.
QString LinkOfLine(const QString& line);

// The links that the menu would open for a right-click at `position` (editor coordinates): those
// of the selected lines when there is a selection, else that of the line under the pointer; only
// download links (site/download_link.h), as the page wrote them.
QStringList LinksAt(const QPlainTextEdit& editor, QPoint position);

// The menu for a right-click at `position`, owned by the caller; the open entry is disabled when
// there is no link to open.
QMenu* CreateOutputBoxMenu(QPlainTextEdit& editor, QPoint position);

// Gives the box's editor this menu.
void AddOpenLinksMenu(EditBox& box);

}  // namespace mf
