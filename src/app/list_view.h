// The result list: a report view with three columns ("序列号", "内容" and the hidden "地址").
//
// The list takes a blocking call from the search worker for every row and cell, so changes are
// cheap: `ResultListModel` keeps the rows in its own store, which every operation reads and
// changes at once, and tells the view about new rows and changed cells at most once per frame.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>
#include <QTimer>
#include <array>
#include <vector>

#include "app/controls.h"
#include "support/text_types.h"

namespace mf {

class ResultListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 3;

  explicit ResultListModel(QObject* parent);

  // Adds an empty row (column 0 holding `firstCell`) before `index`; a negative or too large
  // index appends. Returns the new row's index.
  int InsertRow(int index, const Text& firstCell);
  int RowCount() const { return static_cast<int>(rows_.size()); }
  // Out-of-range rows or columns change nothing and read as the empty text.
  void SetCell(int row, int column, const Text& text);
  Text Cell(int row, int column) const;
  // Whether the row's cells are program text (code page 936, as every row starts) or its site's
  // own text, UTF-8 (text_edge.h: SiteTextToQString).
  void SetRowProgramText(int row, bool programText);

  // Brings the view up to date now instead of at the next frame.
  void Publish();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  void SchedulePublish();

  std::vector<std::array<Text, kColumns>> rows_;
  std::vector<char> programText_;  // per row, beside rows_
  int publishedRows_ = 0;          // rows the view has been told about
  int dirtyFirst_ = -1;            // range of published rows whose cells changed since
  int dirtyLast_ = -1;
  QTimer publishTimer_;
};

// The list control: whole-row single selection, grid lines, header that cannot be clicked, no
// editing. A double-click anywhere in the rows area (on a row or on empty space) is reported; one
// on the header is not.
class ListView : public QTableView {
  Q_OBJECT

 public:
  explicit ListView(QWidget* parent);

  ResultListModel& Rows() { return *model_; }
  // The first selected row, -1 when none is.
  int SelectedRow() const;

 Q_SIGNALS:
  // Pointer position in the rows area, modifier keys as ModifierKeys() gives them.
  void doubleClickedAnywhere(int x, int y, int modifierKeys);

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  ResultListModel* model_;
};

}  // namespace mf
