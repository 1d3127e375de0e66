#include "app/window_size.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QStyleOptionSizeGrip>
#include <cstdio>
#include <vector>

#include "app/main_window.h"
#include "app/site_choice.h"

namespace mf {
namespace {

const QString kSizeKey = QStringLiteral("window/size");
const QSize kDefaultSize(MainWindow::kWidth, MainWindow::kHeight);

// What an edge of a control moves by when the window is larger than the default: nothing, the
// extra width or height, or the list's or the output box's part of the extra height.
enum class Share { kNone, kWidth, kHeight, kListHeight, kOutputHeight };

int Amount(Share share, QSize extra) {
  switch (share) {
    case Share::kNone:
      return 0;
    case Share::kWidth:
      return extra.width();
    case Share::kHeight:
      return extra.height();
    case Share::kListHeight:  // the list takes two thirds of the height, the output box the rest
      return extra.height() - extra.height() / 3;
    case Share::kOutputHeight:
      return extra.height() / 3;
  }
  return 0;
}

// A control, its geometry at the default size and how its left, top, width and height follow.
struct Follow {
  QPointer<QWidget> control;
  QRect atDefault;
  Share left, top, width, height;
};

// Lays the controls out again whenever the window's size changes.
class LayoutFollower : public QObject {
 public:
  explicit LayoutFollower(MainWindow& window) : QObject(&window), window_(window) {
    using enum Share;
    Add(window.外形框1, kNone, kNone, kWidth, kHeight);
    Add(window.外形框2, kNone, kNone, kWidth, kHeight);
    Add(window.透明标签5, kWidth, kNone, kNone, kNone);
    Add(window.透明标签6, kWidth, kNone, kNone, kNone);
    Add(window.超级列表框1, kNone, kNone, kWidth, kListHeight);
    for (QWidget* control :
         {static_cast<QWidget*>(window.透明标签1), static_cast<QWidget*>(window.编辑框_搜索内容),
          static_cast<QWidget*>(window.超级按钮_开始解析),
          static_cast<QWidget*>(window.超级按钮_停止解析)}) {
      Add(control, kNone, kListHeight, kNone, kNone);
    }
    Add(window.编辑框_输出, kNone, kListHeight, kWidth, kOutputHeight);
    // The page-count box lies beyond the right edge, and stays there.
    Add(window.透明标签2, kWidth, kListHeight, kNone, kNone);
    Add(window.编辑框_停止页数, kWidth, kListHeight, kNone, kNone);
    Add(window.外形框3, kNone, kHeight, kNone, kNone);
    Add(window.外形框4, kNone, kHeight, kWidth, kNone);
    Add(window.透明标签3, kNone, kHeight, kNone, kNone);
    Add(window.透明标签_状态条, kNone, kNone, kWidth, kNone);
    window.installEventFilter(this);
  }

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize) {
      Apply();
    }
    return false;
  }

 private:
  void Add(QWidget* control, Share left, Share top, Share width, Share height) {
    follows_.push_back({control, control->geometry(), left, top, width, height});
  }

  void Apply() {
    const QSize extra = (window_.size() - kDefaultSize).expandedTo(QSize(0, 0));
    for (const Follow& follow : follows_) {
      if (follow.control) {
        const QRect& at = follow.atDefault;
        follow.control->setGeometry(
            at.x() + Amount(follow.left, extra), at.y() + Amount(follow.top, extra),
            at.width() + Amount(follow.width, extra), at.height() + Amount(follow.height, extra));
      }
    }
  }

  MainWindow& window_;
  std::vector<Follow> follows_;
};

void RememberWindowSize(QSize size) {
  const QString text = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
  if (auto error = WriteSetting(kSizeKey, text, QStringLiteral("window size"))) {
    const QByteArray line = (QStringLiteral("magnet-finder: ") + *error + u'\n').toLocal8Bit();
    std::fputs(line.constData(), stderr);
  }
}

// The room from the window's top-left corner to the end of its screen's available area.
QSize RoomFrom(const QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) {
    return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  }
  const QRect area = screen->availableGeometry();
  return QSize(area.right() + 1 - window.x(), area.bottom() + 1 - window.y());
}

// The grip in the lower-right corner: dragging it resizes the window, following the pointer (a
// fixed-size window is not resized by the window system), and remembers the size on release.
class SizeGrip : public QWidget {
 public:
  static constexpr int kSide = 14;

  explicit SizeGrip(MainWindow& window) : QWidget(&window), window_(window) {
    setObjectName(QStringLiteral("sizeGrip"));
    setCursor(Qt::SizeFDiagCursor);
    setAttribute(Qt::WA_NoMousePropagation);
    window.installEventFilter(this);
    Place();
  }

  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize) {
      Place();
    }
    return false;
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QStyleOptionSizeGrip option;
    option.initFrom(this);
    option.corner = Qt::BottomRightCorner;
    style()->drawControl(QStyle::CE_SizeGrip, &option, &painter, this);
  }

  void mousePressEvent(QMouseEvent* event) override {
    event->accept();
    if (event->button() == Qt::LeftButton) {
      pressAt_ = event->globalPosition().toPoint();
      sizeAtPress_ = window_.size();
    }
  }

  void mouseMoveEvent(QMouseEvent* event) override {
    if (pressAt_ && (event->buttons() & Qt::LeftButton)) {
      const QPoint by = event->globalPosition().toPoint() - *pressAt_;
      ResizeWindow(window_, sizeAtPress_ + QSize(by.x(), by.y()));
    }
  }

  void mouseReleaseEvent(QMouseEvent*) override {
    if (pressAt_ && window_.size() != sizeAtPress_) {
      RememberWindowSize(window_.size());
    }
    pressAt_.reset();
  }

 private:
  void Place() {
    setGeometry(window_.width() - kSide, window_.height() - kSide, kSide, kSide);
    raise();
  }

  MainWindow& window_;
  std::optional<QPoint> pressAt_;
  QSize sizeAtPress_;
};

}  // namespace

std::optional<QSize> RememberedWindowSize() {
  static const QRegularExpression form(QStringLiteral("^(\\d{1,5})x(\\d{1,5})$"));
  const QRegularExpressionMatch match = form.match(ReadSetting(kSizeKey));
  if (!match.hasMatch()) {
    return std::nullopt;
  }
  return QSize(match.captured(1).toInt(), match.captured(2).toInt());
}

QSize ClampedWindowSize(QSize wanted, QSize room) {
  return wanted.boundedTo(room).expandedTo(kDefaultSize);
}

void MakeResizable(MainWindow& window) {
  new LayoutFollower(window);
  new SizeGrip(window);
}

void RestoreWindowSize(MainWindow& window) {
  const std::optional<QSize> remembered = RememberedWindowSize();
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (remembered && screen != nullptr) {
    window.setFixedSize(ClampedWindowSize(*remembered, screen->availableGeometry().size()));
  }
}

void ResizeWindow(MainWindow& window, QSize size) {
  window.setFixedSize(ClampedWindowSize(size, RoomFrom(window)));
}

}  // namespace mf
