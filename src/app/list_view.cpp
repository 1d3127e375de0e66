#include "app/list_view.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>
#include <cstdio>

#include "app/site_choice.h"

namespace mf {
namespace {

// The widths of the added columns, from the longest text each usually holds in the list's font;
// 内容 takes what is left of the list's width, but no less than kLeastTitleWidth.
int ColumnWidth(ListColumn column, const QFontMetrics& font) {
  const auto room = [&](const char* widest) {
    return font.horizontalAdvance(QString::fromUtf8(widest)) + 10;
  };
  switch (column) {
    case ListColumn::kNumber:
      return room("序列号");
    case ListColumn::kSize:
      return room("999.9 GiB");
    case ListColumn::kSeeders:
    case ListColumn::kLeechers:
      return room("99999");
    case ListColumn::kDate:
      return room("2026-01-31");
    case ListColumn::kSite:
      return room("演示站（表格）");
    default:
      return 0;
  }
}
constexpr int kLeastTitleWidth = 160;

// Counts and dates are most often wanted biggest and newest first.
Qt::SortOrder FirstOrder(ListColumn column) {
  const bool number = column == ListColumn::kSize || column == ListColumn::kSeeders ||
                      column == ListColumn::kLeechers || column == ListColumn::kDate;
  return number ? Qt::DescendingOrder : Qt::AscendingOrder;
}

}  // namespace

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
  connect(header, &QHeaderView::sectionClicked, this, &ListView::SortByHeader);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::Text, Qt::black);
  setPalette(palette);
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this, &ListView::OpenContextMenu);
  model_->HideUnseeded(RememberedHideUnseeded());
}

int ListView::SelectedRow() const {
  const std::vector<int> rows = SelectedRows();
  return rows.empty() ? -1 : rows.front();
}

std::vector<int> ListView::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : selectionModel()->selectedRows()) {
    rows.push_back(index.row());
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void ListView::ShowColumnsFor(const std::vector<std::shared_ptr<const SiteDefinition>>& sites) {
  const auto shown = [this] {
    std::vector<ListColumn> columns;
    for (int section = 0; section < model_->columnCount(); ++section) {
      columns.push_back(model_->ColumnAt(section));
    }
    return columns;
  };
  const std::vector<ListColumn> before = shown();
  model_->ShowColumns(ColumnsForSites(sites));
  if (shown() == before) {
    return;
  }
  const int columns = model_->columnCount();
  QHeaderView* header = horizontalHeader();
  const bool more = columns > ResultListModel::kColumns;
  if (model_->RowCount() == 0) {
    // A new start: arrival order, as before any click.
    model_->SortBy(0, Qt::AscendingOrder);
    header->setSortIndicatorShown(false);
    sortColumn_.reset();
  } else if (sortColumn_) {
    for (int section = 0; section < columns; ++section) {
      if (model_->ColumnAt(section) == *sortColumn_) {
        header->setSortIndicator(section, sortOrder_);
      }
    }
  }
  if (!more) {
    header->resizeSection(0, 100);
    header->resizeSection(1, 500);
  } else {
    int rest = viewport()->width();
    for (int section = 0; section < columns; ++section) {
      if (section != 1) {
        const int width = ColumnWidth(model_->ColumnAt(section), fontMetrics());
        header->resizeSection(section, width);
        rest -= width;
      }
    }
    header->resizeSection(1, std::max(rest, kLeastTitleWidth));
  }
  header->setSectionsClickable(more);
  setSelectionMode(more ? QAbstractItemView::ExtendedSelection
                        : QAbstractItemView::SingleSelection);
}

void ListView::SortByHeader(int section) {
  const ListColumn column = model_->ColumnAt(section);
  if (sortColumn_ == column) {
    sortOrder_ = sortOrder_ == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
  } else {
    sortColumn_ = column;
    sortOrder_ = FirstOrder(column);
  }
  model_->SortBy(section, sortOrder_);
  horizontalHeader()->setSortIndicatorShown(true);
  horizontalHeader()->setSortIndicator(section, sortOrder_);
  if (const QModelIndex current = currentIndex(); current.isValid()) {
    scrollTo(current);
  }
}

void ListView::CopySelectedRows() {
  const std::vector<int> rows = SelectedRows();
  if (!rows.empty()) {
    QApplication::clipboard()->setText(model_->TabSeparated(rows));
  }
}

void ListView::SelectArrivals(const std::vector<int>& arrivals) {
  QItemSelection selection;
  for (int row = 0; row < model_->rowCount(); ++row) {
    if (std::binary_search(arrivals.begin(), arrivals.end(), model_->ArrivalOf(row))) {
      selection.select(model_->index(row, 0), model_->index(row, model_->columnCount() - 1));
    }
  }
  selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void ListView::HideUnseeded(bool hide) {
  std::vector<int> arrivals;
  for (const int row : SelectedRows()) {
    arrivals.push_back(model_->ArrivalOf(row));
  }
  std::sort(arrivals.begin(), arrivals.end());
  model_->HideUnseeded(hide);
  SelectArrivals(arrivals);
  if (auto error = RememberHideUnseeded(hide)) {
    const QByteArray line = (QStringLiteral("magnet-finder: ") + *error + u'\n').toLocal8Bit();
    std::fputs(line.constData(), stderr);
  }
}

void ListView::OpenContextMenu(QPoint at) {
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("listMenu"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QAction* copy = menu->addAction(QStringLiteral("复制"), this, &ListView::CopySelectedRows);
  copy->setObjectName(QStringLiteral("copyRows"));
  copy->setEnabled(selectionModel()->hasSelection());
  QAction* hide = menu->addAction(QStringLiteral("隐藏无种子"));
  hide->setObjectName(QStringLiteral("hideUnseeded"));
  hide->setCheckable(true);
  hide->setChecked(model_->HidesUnseeded());
  connect(hide, &QAction::toggled, this, &ListView::HideUnseeded);
  menu->popup(viewport()->mapToGlobal(at));
}

void ListView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    CopySelectedRows();
    return;
  }
  QTableView::keyPressEvent(event);
}

void ListView::mouseDoubleClickEvent(QMouseEvent* event) {
  QTableView::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton) {
    const QPoint at = event->position().toPoint();
    Q_EMIT doubleClickedAnywhere(at.x(), at.y(), ModifierKeys(event->modifiers()));
  }
}

}  // namespace mf
