// The rows of the result list and the columns it shows.
//
// Rows are kept in the order they arrived; the view sees them in the order of the column they are
// sorted by (arrival order until a header is clicked), without the rows it hides. A row index in
// the operations below is a place in that shown order. A search worker's page of rows costs one
// change of the model: rows in arrival order reach the view at most once per frame, rows of a
// sorted list go to their places at once.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "site/result_page.h"
#include "support/text_types.h"

namespace mf {

struct SiteDefinition;

// What a column shows. The first three are the list's own: the running number, the title and
// the hidden address (or, for a site without detail pages, the magnet link).
enum class ListColumn { kNumber, kTitle, kAddress, kSize, kSeeders, kLeechers, kDate, kSite };

// The columns for a search of `sites`: the list's own three, then 大小, 做种, 吸血 and 日期 when
// some site gives them, and 站点 when there are several.
std::vector<ListColumn> ColumnsForSites(
    const std::vector<std::shared_ptr<const SiteDefinition>>& sites);

class ResultListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumns = 3;  // the list's own columns

  explicit ResultListModel(QObject* parent);

  // Adds an empty row (column 0 holding `firstCell`) before `index`; a negative or too large
  // index, or any index while the list is sorted or hides rows, appends. Returns the new row's
  // index.
  int InsertRow(int index, const Text& firstCell);
  // Adds a page of a site's rows, each numbered by its arrival, as one change.
  void AddEntries(const std::shared_ptr<const SiteDefinition>& site, std::vector<EntryRow> rows);
  int RowCount() const;
  // Out-of-range rows or columns change nothing and read as the empty text. Columns are the
  // list's own three.
  void SetCell(int row, int column, const Text& text);
  Text Cell(int row, int column) const;

  // The row's place in the arrival order, which sorting does not change; -1 when out of range.
  int ArrivalOf(int row) const;
  // The site of the row that arrived `arrival`-th; null for a row without one.
  std::shared_ptr<const SiteDefinition> SiteOf(int arrival) const;
  // Notes the magnet link fetched for the row that arrived `arrival`-th, for copying.
  void SetMagnet(int arrival, const Text& magnet);

  // Shows `columns` (the list's own three first), keeping any column the rows already fill.
  void ShowColumns(const std::vector<ListColumn>& columns);
  ListColumn ColumnAt(int section) const { return columns_[static_cast<std::size_t>(section)]; }

  // Sorts the shown rows by the column at `section`; the selection stays with its rows.
  void SortBy(int section, Qt::SortOrder order);
  // Hides (or shows again) the rows whose seeders are known to be 0.
  void HideUnseeded(bool hide);
  bool HidesUnseeded() const { return hideUnseeded_; }

  // The rows as tab-separated lines: the names of the shown columns and "磁力链接", then one line
  // per row in `rows` (shown order), its magnet link last.
  QString TabSeparated(std::vector<int> rows) const;

  // Brings the view up to date now instead of at the next frame.
  void Publish();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Row {
    Text number;
    Text title;
    Text address;
    Text magnet;
    Text size;
    Text date;
    Text seeders;
    Text leechers;
    std::optional<std::int64_t> sizeBytes;
    std::optional<std::int64_t> dateSeconds;
    std::optional<std::int64_t> seederCount;
    std::optional<std::int64_t> leecherCount;
    std::int32_t site = -1;  // index in sites_
  };
  struct SiteLabel {
    std::shared_ptr<const SiteDefinition> definition;
    QString name;
  };

  void SchedulePublish();
  bool Shown(const Row& row) const;
  bool Arranged() const { return sortColumn_ != ListColumn::kNumber || !sortAscending_; }
  // The row at a shown place: published rows through order_, then the rows still to publish.
  int StoreIndex(int row) const;
  static Text& CellOf(Row& row, int column);
  static const Text& AddressOf(const Row& row);
  QString TextOf(std::size_t storeIndex, ListColumn column) const;
  bool Before(std::int32_t left, std::int32_t right) const;
  void PlaceNewRows(std::size_t firstNew);
  void Rebuild();

  std::vector<Row> rows_;            // in arrival order
  std::vector<std::int32_t> order_;  // the shown rows the view knows, as indexes in rows_
  std::size_t publishedRows_ = 0;    // rows_ that order_ has taken in
  int dirtyFirst_ = -1;              // range of shown rows whose cells changed since
  int dirtyLast_ = -1;
  std::vector<SiteLabel> sites_;
  std::vector<ListColumn> columns_{ListColumn::kNumber, ListColumn::kTitle, ListColumn::kAddress};
  ListColumn sortColumn_ = ListColumn::kNumber;
  bool sortAscending_ = true;
  bool hideUnseeded_ = false;
  // While sorting by a text column: each row's text once, rather than once per comparison.
  std::vector<QString> sortKeys_;
  QTimer publishTimer_;
};

}  // namespace mf
