#include "app/keyword_history.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QStringListModel>
#include <cstdio>

#include "app/controls.h"
#include "app/site_choice.h"

namespace mf {
namespace {

const QString kHistoryKey = QStringLiteral("search/keywords");
const QString kWhat = QStringLiteral("keywords");

void ReportError(const std::optional<QString>& error) {
  if (error) {
    const QByteArray line = (QStringLiteral("magnet-finder: ") + *error + u'\n').toLocal8Bit();
    std::fputs(line.constData(), stderr);
  }
}

QLineEdit* LineOf(EditBox& box) {
  return qobject_cast<QLineEdit*>(box.Editor());
}

QStringListModel* ModelOf(QLineEdit& line) {
  QCompleter* completer = line.completer();
  return completer != nullptr ? qobject_cast<QStringListModel*>(completer->model()) : nullptr;
}

void Offer(QLineEdit& line, const QStringList& history) {
  if (QStringListModel* model = ModelOf(line)) {
    model->setStringList(history);
  }
}

// Down in the box, while the list is closed, opens it with every past keyword.
class OpenListOnDown : public QObject {
 public:
  OpenListOnDown(QLineEdit* line, QCompleter* completer) : QObject(line), completer_(completer) {}

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::KeyPress ||
        static_cast<QKeyEvent*>(event)->key() != Qt::Key_Down || completer_->popup()->isVisible() ||
        completer_->model()->rowCount() == 0) {
      return false;
    }
    completer_->setCompletionPrefix(QString());
    completer_->complete();
    return true;
  }

 private:
  QCompleter* completer_;
};

}  // namespace

QMenu* CreateKeywordBoxMenu(QLineEdit& line) {
  QMenu* menu = line.createStandardContextMenu();
  menu->addSeparator();
  QAction* clear = menu->addAction(QStringLiteral("清除搜索记录"), &line, [&line] {
    ReportError(WriteSettingList(kHistoryKey, {}, kWhat));
    Offer(line, {});
  });
  clear->setObjectName(QStringLiteral("clearKeywordHistory"));
  const QStringListModel* model = ModelOf(line);
  clear->setEnabled(model != nullptr && model->rowCount() > 0);
  return menu;
}

QStringList WithKeyword(QStringList history, const QString& keyword) {
  if (keyword.trimmed().isEmpty() || keyword.size() > kLongestKeptKeyword) {
    return history;
  }
  history.removeAll(keyword);
  history.prepend(keyword);
  return history.mid(0, kKeywordHistorySize);
}

QStringList KeywordHistory() {
  const QStringList kept = ReadSettingList(kHistoryKey);
  QStringList history;
  for (auto keyword = kept.rbegin(); keyword != kept.rend(); ++keyword) {
    history = WithKeyword(history, *keyword);
  }
  return history;
}

void RememberSearchedKeyword(EditBox& box) {
  QLineEdit* line = LineOf(box);
  if (line == nullptr) {
    return;
  }
  const QStringList before = KeywordHistory();
  const QStringList after = WithKeyword(before, line->text());
  if (after != before) {
    ReportError(WriteSettingList(kHistoryKey, after, kWhat));
  }
  Offer(*line, after);
}

void AddKeywordHistory(EditBox& box) {
  QLineEdit* line = LineOf(box);
  if (line == nullptr) {
    return;
  }
  auto* completer = new QCompleter(new QStringListModel(KeywordHistory(), line), line);
  completer->setCaseSensitivity(Qt::CaseInsensitive);
  completer->setMaxVisibleItems(kKeywordHistorySize);
  completer->popup()->setFont(line->font());
  line->setCompleter(completer);
  line->installEventFilter(new OpenListOnDown(line, completer));
  line->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(line, &QWidget::customContextMenuRequested, line, [line](QPoint at) {
    QMenu* menu = CreateKeywordBoxMenu(*line);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(line->mapToGlobal(at));
  });
}

}  // namespace mf
