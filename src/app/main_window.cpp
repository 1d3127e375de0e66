#include "app/main_window.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QMouseEvent>
#include <QScreen>
#include <QShortcut>
#include <mutex>
#include <utility>
#include <vector>

#include "app/keyword_history.h"
#include "app/link_menu.h"
#include "app/magnet.h"
#include "app/search_control.h"
#include "app/site_menu.h"
#include "app/ui_thread.h"
#include "app/window_size.h"
#include "platform/threads.h"

#ifndef MF_BUILD_DATE
#define MF_BUILD_DATE "unknown"
#endif

namespace mf {
namespace {

MainWindow* currentWindow = nullptr;  // UI thread only

// The texts of the boxes that the search worker reads for every page, kept up to date on the UI
// thread at every change, so that such a read costs no trip there. Empty when there is no window.
class InputTexts {
 public:
  static bool IsTracked(EditBoxControl box) {
    return box == &MainWindow::编辑框_搜索内容 || box == &MainWindow::编辑框_停止页数;
  }
  // UI thread, when the window is made.
  void Track(EditBoxControl box, EditBox* widget) {
    Set(box, widget->GetText(), widget->GetUtf8Text());
    QObject::connect(widget, &EditBox::textChanged, widget,
                     [this, box, widget] { Set(box, widget->GetText(), widget->GetUtf8Text()); });
  }
  // UI thread, when the window goes.
  void Forget() {
    std::lock_guard lock(mutex_);
    texts_.clear();
  }
  // Any thread; the empty text when there is no window.
  Text Read(EditBoxControl box) const {
    std::lock_guard lock(mutex_);
    const Tracked* tracked = Find(box);
    return tracked != nullptr ? tracked->text : Text();
  }
  std::string ReadUtf8(EditBoxControl box) const {
    std::lock_guard lock(mutex_);
    const Tracked* tracked = Find(box);
    return tracked != nullptr ? tracked->utf8 : std::string();
  }

 private:
  struct Tracked {
    EditBoxControl box;
    Text text;
    std::string utf8;
  };
  const Tracked* Find(EditBoxControl box) const {
    for (const Tracked& tracked : texts_) {
      if (tracked.box == box) {
        return &tracked;
      }
    }
    return nullptr;
  }
  void Set(EditBoxControl box, const Text& text, std::string utf8) {
    std::lock_guard lock(mutex_);
    for (Tracked& tracked : texts_) {
      if (tracked.box == box) {
        tracked.text = text;
        tracked.utf8 = std::move(utf8);
        return;
      }
    }
    texts_.push_back({box, text, std::move(utf8)});
  }

  mutable std::mutex mutex_;
  std::vector<Tracked> texts_;
};

InputTexts& TheInputTexts() {
  static InputTexts* const texts = new InputTexts;  // workers may read after main
  return *texts;
}

const QColor kGrey(192, 192, 192);
const QColor kDarkGrey(128, 128, 128);
const QColor kFrameOutline(96, 96, 96);

TransLabel* Label(QWidget* parent, const QString& caption, int pixelHeight, Qt::Alignment align,
                  const QRect& geometry) {
  auto* label = new TransLabel(parent, caption, pixelHeight, align);
  label->setGeometry(geometry);
  return label;
}

template <typename Control>
Control* Named(Control* control, const QString& name) {
  control->setObjectName(name);
  return control;
}

// Runs `act` on the named control of the current window, on the UI thread.
template <typename Control, typename Act>
void OnControl(Control* MainWindow::*control, Act act) {
  RunOnUiThread([control, act] {
    if (MainWindow* window = MainWindow::Current()) {
      act(*(window->*control));
    }
  });
}

// The same for a read; `none` is the result when there is no window.
template <typename Result, typename Control, typename Read>
Result ReadControl(Control* MainWindow::*control, Result none, Read read) {
  return CallOnUiThread<Result>([control, none, read]() -> Result {
    MainWindow* window = MainWindow::Current();
    return window != nullptr ? read(*(window->*control)) : none;
  });
}

}  // namespace

QString TitleText() {
  return QStringLiteral("磁力搜索器  by 磁力小组  编译于 ") + QString::fromLatin1(MF_BUILD_DATE);
}

MainWindow::MainWindow() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("MainWindow"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(kWidth, kHeight);
  move(50, 50);
  CreateTitleArea();
  CreateBody();
  CreateStatusStrip();
  SetTabOrder();
  BindHandlers();
  AddKeywordHistory(*编辑框_搜索内容);
  MakeResizable(*this);
  currentWindow = this;
  TheInputTexts().Track(&MainWindow::编辑框_搜索内容, 编辑框_搜索内容);
  TheInputTexts().Track(&MainWindow::编辑框_停止页数, 编辑框_停止页数);
}

MainWindow::~MainWindow() {
  if (currentWindow == this) {
    currentWindow = nullptr;
    TheInputTexts().Forget();
  }
}

MainWindow* MainWindow::Current() {
  return currentWindow;
}

void MainWindow::CreateTitleArea() {
  外形框1 = Named(new ShapeBox(this, Qt::black, kGrey), QStringLiteral("外形框1"));
  外形框1->setGeometry(-8, -8, 600, 416);
  外形框1->lower();
  透明标签4 = Named(Label(外形框1, TitleText(), 16, Qt::AlignLeft, {32, 10, 360, 24}),
                    QStringLiteral("透明标签4"));
  透明标签5 = Named(Label(外形框1, QStringLiteral("×"), 20, Qt::AlignHCenter, {569, 15, 17, 14}),
                    QStringLiteral("透明标签5"));
  透明标签6 = Named(Label(this, QStringLiteral("-"), 20, Qt::AlignHCenter, {530, 8, 17, 14}),
                    QStringLiteral("透明标签6"));
  透明标签5->setCursor(Qt::PointingHandCursor);
  透明标签6->setCursor(Qt::PointingHandCursor);
  外形框2 = Named(new ShapeBox(外形框1, kFrameOutline, Qt::white), QStringLiteral("外形框2"));
  外形框2->setGeometry(0, 37, 608, 336);
}

void MainWindow::CreateBody() {
  超级列表框1 = Named(new ListView(外形框2), QStringLiteral("超级列表框1"));
  超级列表框1->setGeometry(8, 0, 584, 224);
  透明标签1 =
      Named(Label(外形框2, QStringLiteral("搜索内容："), 16, Qt::AlignLeft, {17, 235, 79, 24}),
            QStringLiteral("透明标签1"));
  编辑框_搜索内容 = Named(new EditBox(外形框2, EditBox::Lines::kSingle, Qt::AlignHCenter, kGrey,
                                      QStringLiteral("纪录片")),
                          QStringLiteral("编辑框_搜索内容"));
  编辑框_搜索内容->setGeometry(16, 268, 176, 20);
  超级按钮_开始解析 =
      Named(new SuperBtn(外形框2, QStringLiteral("开始")), QStringLiteral("超级按钮_开始解析"));
  超级按钮_开始解析->setGeometry(94, 237, 42, 22);
  超级按钮_停止解析 =
      Named(new SuperBtn(外形框2, QStringLiteral("结束")), QStringLiteral("超级按钮_停止解析"));
  超级按钮_停止解析->setGeometry(142, 238, 42, 21);
  编辑框_输出 = Named(new EditBox(外形框2, EditBox::Lines::kMulti, Qt::AlignLeft, kGrey, QString()),
                      QStringLiteral("编辑框_输出"));
  编辑框_输出->setGeometry(200, 234, 384, 67);
  AddOpenLinksMenu(*编辑框_输出);
  透明标签2 =
      Named(Label(外形框2, QStringLiteral("搜索几页："), 16, Qt::AlignLeft, {624, 254, 80, 24}),
            QStringLiteral("透明标签2"));
  编辑框_停止页数 = Named(new EditBox(外形框2, EditBox::Lines::kSingle, Qt::AlignHCenter, kDarkGrey,
                                      QStringLiteral("100")),
                          QStringLiteral("编辑框_停止页数"));
  编辑框_停止页数->setGeometry(665, 255, 87, 20);
}

void MainWindow::CreateStatusStrip() {
  外形框3 = Named(new ShapeBox(外形框2, kFrameOutline, kDarkGrey), QStringLiteral("外形框3"));
  外形框3->setGeometry(-16, 307, 72, 20);
  外形框4 = Named(new ShapeBox(外形框2, kFrameOutline, kDarkGrey), QStringLiteral("外形框4"));
  外形框4->setGeometry(54, 307, 538, 20);
  // Frames lie beneath every other control of their container.
  外形框4->lower();
  外形框3->lower();
  透明标签3 = Named(
      Label(外形框2, QStringLiteral("当前搜索状态显示："), 14, Qt::AlignLeft, {15, 309, 129, 14}),
      QStringLiteral("透明标签3"));
  透明标签_状态条 =
      Named(Label(外形框4, QStringLiteral("正常"), 14, Qt::AlignLeft, {98, 3, 384, 14}),
            QStringLiteral("透明标签_状态条"));
}

void MainWindow::SetTabOrder() {
  QWidget::setTabOrder(编辑框_搜索内容, 超级按钮_开始解析);
  QWidget::setTabOrder(超级按钮_开始解析, 超级按钮_停止解析);
  QWidget::setTabOrder(超级按钮_停止解析, 编辑框_输出);
  QWidget::setTabOrder(编辑框_输出, 编辑框_停止页数);
  QWidget::setTabOrder(编辑框_停止页数, 超级列表框1);
}

void MainWindow::BindHandlers() {
  connect(超级按钮_开始解析, &QPushButton::clicked, this, [] { OnStartClick(); });
  connect(超级按钮_停止解析, &QPushButton::clicked, this, [] { OnStopClick(); });
  connect(透明标签5, &TransLabel::leftPressed, this, &OnCloseLabelPress);
  connect(透明标签6, &TransLabel::leftPressed, this, &OnMinimizeLabelPress);
  connect(超级列表框1, &ListView::doubleClickedAnywhere, this, &OnResultListDoubleClick);
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, &MainWindow::RequestDestroy);
  // The title label keeps its presses to itself; a right-click on it opens the site menu like one
  // on the title area's background (contextMenuEvent).
  透明标签4->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(透明标签4, &QWidget::customContextMenuRequested, this,
          [this](QPoint at) { OpenSiteMenu(this, 透明标签4->mapToGlobal(at)); });
}

void MainWindow::ShowCentred() {
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->geometry();
    move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
  }
  show();
}

void MainWindow::RequestDestroy() {
  closing_ = true;
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
  drag_.Press(this, event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
  drag_.Move(this, event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) {
  drag_.Release();
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
  // Right-clicks on the frames come here; those above the body frame are on the title area.
  if (event->pos().y() < 外形框2->mapTo(this, QPoint(0, 0)).y()) {
    OpenSiteMenu(this, event->globalPos());
  } else {
    event->ignore();
  }
}

Text GetEditBoxText(EditBoxControl box) {
  if (!IsUiThread() && InputTexts::IsTracked(box)) {
    platform::UnwindIfKilled();
    return TheInputTexts().Read(box);
  }
  return ReadControl(box, Text(), [](EditBox& control) { return control.GetText(); });
}

std::string GetEditBoxUtf8Text(EditBoxControl box) {
  if (!IsUiThread() && InputTexts::IsTracked(box)) {
    platform::UnwindIfKilled();
    return TheInputTexts().ReadUtf8(box);
  }
  return ReadControl(box, std::string(), [](EditBox& control) { return control.GetUtf8Text(); });
}

void SetEditBoxText(EditBoxControl box, const Text& text) {
  OnControl(box, [text](EditBox& control) { control.SetText(text); });
}

void AppendToEditBox(EditBoxControl box, std::initializer_list<Text> texts) {
  OnControl(box, [parts = std::vector<Text>(texts)](EditBox& control) {
    for (const Text& part : parts) {
      control.Append(part);
    }
  });
}

void SetLabelCaption(LabelControl label, const Text& caption) {
  OnControl(label, [caption](TransLabel& control) { control.SetCaption(caption); });
}

void EnableButton(ButtonControl button, bool enabled) {
  OnControl(button, [enabled](SuperBtn& control) { control.setEnabled(enabled); });
}

int InsertListRow(ListControl list, int index, const Text& firstCell) {
  return ReadControl(list, -1, [index, firstCell](ListView& control) {
    return control.Rows().InsertRow(index, firstCell);
  });
}

int ListRowCount(ListControl list) {
  return ReadControl(list, 0, [](ListView& control) { return control.Rows().RowCount(); });
}

void SetListCellText(ListControl list, int row, int column, const Text& text) {
  OnControl(list,
            [row, column, text](ListView& control) { control.Rows().SetCell(row, column, text); });
}

Text GetListCellText(ListControl list, int row, int column) {
  return ReadControl(list, Text(),
                     [row, column](ListView& control) { return control.Rows().Cell(row, column); });
}

int SelectedListRow(ListControl list) {
  return ReadControl(list, -1, [](ListView& control) { return control.SelectedRow(); });
}

void AddListEntries(ListControl list, std::shared_ptr<const SiteDefinition> site,
                    std::vector<EntryRow> rows) {
  RunOnUiThread([list, site = std::move(site), rows = std::move(rows)]() mutable {
    if (MainWindow* window = MainWindow::Current()) {
      (window->*list)->Rows().AddEntries(site, std::move(rows));
    }
  });
}

void AddListEntriesWithCaption(ListControl list, std::shared_ptr<const SiteDefinition> site,
                               std::vector<EntryRow> rows, LabelControl label,
                               const Text& caption) {
  RunOnUiThread([list, site = std::move(site), rows = std::move(rows), label, caption]() mutable {
    if (MainWindow* window = MainWindow::Current()) {
      if (!rows.empty()) {
        (window->*list)->Rows().AddEntries(site, std::move(rows));
      }
      (window->*label)->SetCaption(caption);
    }
  });
}

void ShowListColumnsFor(ListControl list,
                        std::vector<std::shared_ptr<const SiteDefinition>> sites) {
  OnControl(list, [sites = std::move(sites)](ListView& control) { control.ShowColumnsFor(sites); });
}

ListRowOrigin SelectedListRowOrigin(ListControl list) {
  return ReadControl(list, ListRowOrigin{}, [](ListView& control) {
    const int arrival = control.Rows().ArrivalOf(control.SelectedRow());
    return ListRowOrigin{arrival, control.Rows().SiteOf(arrival)};
  });
}

void NoteListRowMagnet(ListControl list, int arrival, const Text& magnet) {
  OnControl(list,
            [arrival, magnet](ListView& control) { control.Rows().SetMagnet(arrival, magnet); });
}

void MinimizeWindow() {
  RunOnUiThread([] {
    if (MainWindow* window = MainWindow::Current()) {
      window->showMinimized();
    }
  });
}

void DestroyForm() {
  RunOnUiThread([] {
    if (MainWindow* window = MainWindow::Current()) {
      window->RequestDestroy();
    }
  });
}

}  // namespace mf
