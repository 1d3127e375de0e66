// The result list: a report view with the columns "序列号", "内容" and the hidden "地址", and,
// for sites that give them, 大小, 做种, 吸血, 日期 and 站点 (result_rows.h).
//
// The list takes a blocking call from the search worker for every page, so changes are cheap:
// `ResultListModel` keeps the rows in its own store, which every operation reads and changes at
// once, and tells the view about new rows and changed cells at most once per frame.
#pragma once

#include <QTableView>
#include <memory>
#include <optional>
#include <vector>

#include "app/controls.h"
#include "app/result_rows.h"
#include "support/text_types.h"

namespace mf {

// The list control: whole-row selection, grid lines, no editing. With the list's own three
// columns, one row is selected at a time and the header cannot be clicked; once it shows more,
// rows are selected as in a file list (Ctrl+A selects them all) and a header click sorts (a
// second click on it reverses). Ctrl+C, or "复制" in its context menu, copies the selected rows
// as tab-separated text; the menu's "隐藏无种子" hides the rows without seeders, and is kept for
// the next start. A double-click anywhere in the rows area (on a row or on empty space) is
// reported; one on the header is not.
class ListView : public QTableView {
  Q_OBJECT

 public:
  explicit ListView(QWidget* parent);

  ResultListModel& Rows() { return *model_; }
  // The first selected row, -1 when none is.
  int SelectedRow() const;
  // The selected rows in the order shown.
  std::vector<int> SelectedRows() const;

  // Shows the columns for a search of `sites` (ColumnsForSites).
  void ShowColumnsFor(const std::vector<std::shared_ptr<const SiteDefinition>>& sites);
  // Puts the selected rows on the clipboard (ResultListModel::TabSeparated).
  void CopySelectedRows();
  // "隐藏无种子": hides the rows without seeders; the selection stays with the rows still shown.
  void HideUnseeded(bool hide);

 Q_SIGNALS:
  // Pointer position in the rows area, modifier keys as ModifierKeys() gives them.
  void doubleClickedAnywhere(int x, int y, int modifierKeys);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void SortByHeader(int section);
  void OpenContextMenu(QPoint at);
  void SelectArrivals(const std::vector<int>& arrivals);

  ResultListModel* model_;
  // The column last clicked (by what it shows: columns added later move its section).
  std::optional<ListColumn> sortColumn_;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

}  // namespace mf
