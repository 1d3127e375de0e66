// The program's one window and the operations that the rest of the program performs on its
// controls.
//
// The controls keep the names of the window's layout, as C++ members and as Qt object names.
// Workers never touch a widget: they name a control by its member (`&MainWindow::编辑框_输出`)
// and call an operation below, which runs on the UI thread (ui_thread.h), acts on the current
// window, and is complete when it returns. With no window left (it was closed), an operation
// does nothing and reads as the empty value.
#pragma once

#include <QWidget>
#include <initializer_list>
#include <memory>
#include <vector>

#include "app/controls.h"
#include "app/list_view.h"
#include "site/result_page.h"
#include "support/text_types.h"

namespace mf {

// Borderless, fixed-size, in the task bar; a right-click on its title area opens the site menu.
// Create it with `new`: it deletes itself once closed (× label, Esc, or the window system), which
// ends the program's event loop.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 584;
  static constexpr int kHeight = 356;

  MainWindow();
  ~MainWindow() override;

  // The window that the control operations act on; UI thread only. Null when there is none.
  static MainWindow* Current();

  // Shows the window centred on its screen.
  void ShowCentred();
  // Closes and destroys the window from the event loop, after the caller has returned.
  void RequestDestroy();
  bool IsClosing() const { return closing_; }

  // Frames and title area.
  ShapeBox* 外形框1;
  TransLabel* 透明标签4;
  TransLabel* 透明标签5;
  TransLabel* 透明标签6;
  ShapeBox* 外形框2;
  // Body.
  ListView* 超级列表框1;
  TransLabel* 透明标签1;
  EditBox* 编辑框_搜索内容;
  SuperBtn* 超级按钮_开始解析;
  SuperBtn* 超级按钮_停止解析;
  EditBox* 编辑框_输出;
  TransLabel* 透明标签2;
  EditBox* 编辑框_停止页数;
  // Status strip.
  ShapeBox* 外形框3;
  ShapeBox* 外形框4;
  TransLabel* 透明标签3;
  TransLabel* 透明标签_状态条;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  // A right-click on the title area opens the site menu (site_menu.h).
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void CreateTitleArea();
  void CreateBody();
  void CreateStatusStrip();
  void SetTabOrder();
  void BindHandlers();

  bool closing_ = false;
  WindowDrag drag_;
};

// The title text: the tool's title, a by-line and the build date.
QString TitleText();

using EditBoxControl = EditBox* MainWindow::*;
using LabelControl = TransLabel* MainWindow::*;
using ButtonControl = SuperBtn* MainWindow::*;
using ListControl = ListView* MainWindow::*;

// Control operations, callable from any thread.
// The keyword and page-count boxes are read without a trip to the UI thread: their texts are
// kept up to date at every change, so a read sees the box as it is at that moment.
Text GetEditBoxText(EditBoxControl box);
// The same as UTF-8, every character kept: the keyword as a site whose text is UTF-8 takes it.
std::string GetEditBoxUtf8Text(EditBoxControl box);
void SetEditBoxText(EditBoxControl box, const Text& text);
// Each text in turn goes after the box's current text; the caret ends there, scrolled into view.
void AppendToEditBox(EditBoxControl box, std::initializer_list<Text> texts);
void SetLabelCaption(LabelControl label, const Text& caption);
void EnableButton(ButtonControl button, bool enabled);
// Adds a row holding `firstCell` in column 0 before `index` (negative: after the last row).
// Returns its 0-based index, -1 when there is no window.
int InsertListRow(ListControl list, int index = -1, const Text& firstCell = Text());
int ListRowCount(ListControl list);
void SetListCellText(ListControl list, int row, int column = 0, const Text& text = Text());
// Row -1 (no selection) and cells beyond the list read as the empty text.
Text GetListCellText(ListControl list, int row, int column = 0);
// The first selected row, -1 when none is.
int SelectedListRow(ListControl list);
// A page of a site's rows, added to the list in one trip (ResultListModel::AddEntries).
void AddListEntries(ListControl list, std::shared_ptr<const SiteDefinition> site,
                    std::vector<EntryRow> rows);
// The same, then `caption` on `label`, in the same trip: a page's rows and the status text that
// follows them arrive together, or neither does (a worker killed before the trip). No rows: only
// the caption.
void AddListEntriesWithCaption(ListControl list, std::shared_ptr<const SiteDefinition> site,
                               std::vector<EntryRow> rows, LabelControl label, const Text& caption);
// Shows the list's columns for a search of `sites` (ListView::ShowColumnsFor).
void ShowListColumnsFor(ListControl list, std::vector<std::shared_ptr<const SiteDefinition>> sites);
// The selected row's place in the arrival order and its site, which stay the row's however the
// list is sorted; -1 and null when no row is selected (the site is null too for a row added
// without one).
struct ListRowOrigin {
  int arrival = -1;
  std::shared_ptr<const SiteDefinition> site;
};
ListRowOrigin SelectedListRowOrigin(ListControl list);
// Notes the magnet link fetched for the row that arrived `arrival`-th, for copying.
void NoteListRowMagnet(ListControl list, int arrival, const Text& magnet);
void MinimizeWindow();
// Marks the window closing and has it destroy itself from the event loop.
void DestroyForm();

}  // namespace mf
