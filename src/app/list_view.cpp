#include "app/list_view.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <algorithm>

#include "app/text_edge.h"

namespace mf {
namespace {

// One repaint per frame at most: the list takes thousands of changes a second during a search.
constexpr int kPublishIntervalMs = 16;

bool ValidCell(int row, int column, int rows) {
  return row >= 0 && row < rows && column >= 0 && column < ResultListModel::kColumns;
}

}  // namespace

ResultListModel::ResultListModel(QObject* parent) : QAbstractTableModel(parent) {
  publishTimer_.setSingleShot(true);
  publishTimer_.setInterval(kPublishIntervalMs);
  connect(&publishTimer_, &QTimer::timeout, this, &ResultListModel::Publish);
}

int ResultListModel::InsertRow(int index, const Text& firstCell) {
  std::array<Text, kColumns> row{firstCell, Text(), Text()};
  if (index < 0 || index >= RowCount()) {
    rows_.push_back(std::move(row));
    programText_.push_back(1);
    SchedulePublish();
    return RowCount() - 1;
  }
  // A row among others shifts the rows the view knows: tell it at once.
  Publish();
  beginInsertRows(QModelIndex(), index, index);
  rows_.insert(rows_.begin() + index, std::move(row));
  programText_.insert(programText_.begin() + index, 1);
  ++publishedRows_;
  endInsertRows();
  return index;
}

void ResultListModel::SetCell(int row, int column, const Text& text) {
  if (!ValidCell(row, column, RowCount())) {
    return;
  }
  rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = text;
  if (row < publishedRows_) {
    dirtyFirst_ = dirtyFirst_ < 0 ? row : std::min(dirtyFirst_, row);
    dirtyLast_ = std::max(dirtyLast_, row);
  }
  SchedulePublish();
}

void ResultListModel::SetRowProgramText(int row, bool programText) {
  if (ValidCell(row, 0, RowCount())) {
    programText_[static_cast<std::size_t>(row)] = programText ? 1 : 0;
  }
}

Text ResultListModel::Cell(int row, int column) const {
  if (!ValidCell(row, column, RowCount())) {
    return Text();
  }
  return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void ResultListModel::Publish() {
  publishTimer_.stop();
  if (dirtyFirst_ >= 0) {
    Q_EMIT dataChanged(index(dirtyFirst_, 0), index(dirtyLast_, kColumns - 1));
    dirtyFirst_ = dirtyLast_ = -1;
  }
  if (publishedRows_ < RowCount()) {
    beginInsertRows(QModelIndex(), publishedRows_, RowCount() - 1);
    publishedRows_ = RowCount();
    endInsertRows();
  }
}

void ResultListModel::SchedulePublish() {
  if (!publishTimer_.isActive()) {
    publishTimer_.start();
  }
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : publishedRows_;
}

int ResultListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= publishedRows_) {
    return QVariant();
  }
  return SiteTextToQString(Cell(index.row(), index.column()),
                           programText_[static_cast<std::size_t>(index.row())] != 0);
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) {
    return QVariant();
  }
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole) {
    return QVariant();
  }
  switch (section) {
    case 0:
      return QStringLiteral("序列号");
    case 1:
      return QStringLiteral("内容");
    case 2:
      return QStringLiteral("地址");
    default:
      return QVariant();
  }
}

ListView::ListView(QWidget* parent) : QTableView(parent), model_(new ResultListModel(this)) {
  setModel(model_);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setShowGrid(true);
  setWordWrap(false);
  setMouseTracking(false);
  setFrameShape(QFrame::Box);
  setLineWidth(1);
  setAttribute(Qt::WA_NoMousePropagation);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  // Compact rows, as a report view draws them: one line of text and a little air.
  verticalHeader()->setMinimumSectionSize(0);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  QHeaderView* header = horizontalHeader();
  header->setSectionsClickable(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(0);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->resizeSection(0, 100);
  header->resizeSection(1, 500);
  header->resizeSection(2, 0);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  setPalette(palette);
}

int ListView::SelectedRow() const {
  const QModelIndexList rows = selectionModel()->selectedRows();
  if (rows.isEmpty()) {
    return -1;
  }
  const auto first = std::min_element(
      rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.row() < b.row(); });
  return first->row();
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) {
    const QPoint at = event->position().toPoint();
    Q_EMIT doubleClickedAnywhere(at.x(), at.y(), ModifierKeys(event->modifiers()));
  }
}

}  // namespace mf
