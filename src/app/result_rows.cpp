#include "app/result_rows.h"

#include <QDateTime>
#include <algorithm>

#include "app/site_choice.h"
#include "app/text_edge.h"
#include "site/site_definition.h"
#include "support/encoding.h"
#include "support/text_ops.h"

namespace mf {
namespace {

// One repaint per frame at most: the list takes thousands of changes a second during a search.
constexpr int kPublishIntervalMs = 16;

QString ColumnName(ListColumn column) {
  switch (column) {
    case ListColumn::kNumber:
      return QStringLiteral("序列号");
    case ListColumn::kTitle:
      return QStringLiteral("内容");
    case ListColumn::kAddress:
      return QStringLiteral("地址");
    case ListColumn::kSize:
      return QStringLiteral("大小");
    case ListColumn::kSeeders:
      return QStringLiteral("做种");
    case ListColumn::kLeechers:
      return QStringLiteral("吸血");
    case ListColumn::kDate:
      return QStringLiteral("日期");
    case ListColumn::kSite:
      return QStringLiteral("站点");
  }
  return QString();
}

bool IsTextColumn(ListColumn column) {
  return column == ListColumn::kTitle || column == ListColumn::kAddress ||
         column == ListColumn::kSite;
}

// A field of a tab-separated line: a tab or line break inside it would split the line.
QString OneField(QString text) {
  for (QChar& c : text) {
    if (c == u'\t' || c == u'\r' || c == u'\n') {
      c = u' ';
    }
  }
  return text;
}

// A date the site gave as a point in time, in UTC as the command line writes it, in the room a
// column has: the day alone when the site gave no time of day.
QString ShortDate(std::int64_t seconds) {
  const QDateTime time = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
  return time.toString(seconds % 86400 == 0 ? QStringLiteral("yyyy-MM-dd")
                                            : QStringLiteral("yyyy-MM-dd HH:mm"));
}

}  // namespace

std::vector<ListColumn> ColumnsForSites(
    const std::vector<std::shared_ptr<const SiteDefinition>>& sites) {
  std::vector<ListColumn> columns{ListColumn::kNumber, ListColumn::kTitle, ListColumn::kAddress};
  const auto someGives = [&](RowField field) {
    return std::any_of(sites.begin(), sites.end(),
                       [field](const auto& site) { return site->HasField(field); });
  };
  const std::pair<RowField, ListColumn> fields[] = {{RowField::kSize, ListColumn::kSize},
                                                    {RowField::kSeeders, ListColumn::kSeeders},
                                                    {RowField::kLeechers, ListColumn::kLeechers},
                                                    {RowField::kDate, ListColumn::kDate}};
  for (const auto& [field, column] : fields) {
    if (someGives(field)) {
      columns.push_back(column);
    }
  }
  if (sites.size() > 1) {
    columns.push_back(ListColumn::kSite);
  }
  return columns;
}

ResultListModel::ResultListModel(QObject* parent) : QAbstractTableModel(parent) {
  publishTimer_.setSingleShot(true);
  publishTimer_.setInterval(kPublishIntervalMs);
  connect(&publishTimer_, &QTimer::timeout, this, &ResultListModel::Publish);
}

int ResultListModel::RowCount() const {
  return static_cast<int>(order_.size() + (rows_.size() - publishedRows_));
}

int ResultListModel::StoreIndex(int row) const {
  if (row < 0) {
    return -1;
  }
  const auto place = static_cast<std::size_t>(row);
  if (place < order_.size()) {
    return order_[place];
  }
  const std::size_t pending = publishedRows_ + (place - order_.size());
  return pending < rows_.size() ? static_cast<int>(pending) : -1;
}

int ResultListModel::InsertRow(int index, const Text& firstCell) {
  Row row;
  row.number = firstCell;
  const bool inPlace = !Arranged() && !hideUnseeded_;
  if (index < 0 || index >= RowCount() || !inPlace) {
    rows_.push_back(std::move(row));
    if (inPlace) {
      SchedulePublish();
      return RowCount() - 1;
    }
    PlaceNewRows(rows_.size() - 1);
    const auto at = std::find(order_.begin(), order_.end(), rows_.size() - 1);
    return static_cast<int>(at - order_.begin());
  }
  // A row among others shifts the rows the view knows: tell it at once. In arrival order with
  // nothing hidden, a place is an index in rows_.
  Publish();
  beginInsertRows(QModelIndex(), index, index);
  rows_.insert(rows_.begin() + index, std::move(row));
  order_.push_back(static_cast<std::int32_t>(order_.size()));
  ++publishedRows_;
  endInsertRows();
  return index;
}

void ResultListModel::AddEntries(const std::shared_ptr<const SiteDefinition>& site,
                                 std::vector<EntryRow> entries) {
  if (entries.empty()) {
    return;
  }
  auto known = std::find_if(sites_.begin(), sites_.end(),
                            [&](const SiteLabel& label) { return label.definition == site; });
  if (known == sites_.end()) {
    sites_.push_back({site, site ? ShownText(QString::fromStdString(site->name)) : QString()});
    known = sites_.end() - 1;
  }
  const auto siteIndex = static_cast<std::int32_t>(known - sites_.begin());
  const std::size_t firstNew = rows_.size();
  // A site's links go on as the program's text (a double-click fetches the address, a copy or the
  // desktop takes the magnet): those of a site whose text is UTF-8 are made ASCII.
  const bool siteText = site && !site->programText;
  const auto link = [siteText](Text& text) {
    return siteText ? PercentEncodedNonAscii(text) : std::move(text);
  };
  for (EntryRow& entry : entries) {
    Row row;
    row.number = ToText(static_cast<std::int32_t>(rows_.size() + 1));
    row.title = std::move(entry.title);
    row.address = link(entry.address);
    row.magnet = link(entry.magnet);
    row.size = std::move(entry.size);
    row.date = std::move(entry.date);
    row.seeders = std::move(entry.seeders);
    row.leechers = std::move(entry.leechers);
    row.sizeBytes = entry.sizeBytes;
    row.dateSeconds = entry.dateSeconds;
    row.seederCount = entry.seederCount;
    row.leecherCount = entry.leecherCount;
    row.site = siteIndex;
    rows_.push_back(std::move(row));
  }
  if (!Arranged() && !hideUnseeded_) {
    SchedulePublish();
  } else {
    PlaceNewRows(firstNew);
  }
}

// A row without a detail page shows its magnet link where the address would be; it is kept once.
const Text& ResultListModel::AddressOf(const Row& row) {
  return row.address.empty() ? row.magnet : row.address;
}

Text& ResultListModel::CellOf(Row& row, int column) {
  switch (column) {
    case 0:
      return row.number;
    case 1:
      return row.title;
    default:
      return row.address;
  }
}

void ResultListModel::SetCell(int row, int column, const Text& text) {
  const int store = StoreIndex(row);
  if (store < 0 || column < 0 || column >= kColumns) {
    return;
  }
  CellOf(rows_[static_cast<std::size_t>(store)], column) = text;
  if (static_cast<std::size_t>(row) < order_.size()) {
    dirtyFirst_ = dirtyFirst_ < 0 ? row : std::min(dirtyFirst_, row);
    dirtyLast_ = std::max(dirtyLast_, row);
  }
  SchedulePublish();
}

Text ResultListModel::Cell(int row, int column) const {
  const int store = StoreIndex(row);
  if (store < 0 || column < 0 || column >= kColumns) {
    return Text();
  }
  const Row& shown = rows_[static_cast<std::size_t>(store)];
  return column == 0 ? shown.number : column == 1 ? shown.title : AddressOf(shown);
}

int ResultListModel::ArrivalOf(int row) const {
  return StoreIndex(row);
}

std::shared_ptr<const SiteDefinition> ResultListModel::SiteOf(int arrival) const {
  if (arrival < 0 || static_cast<std::size_t>(arrival) >= rows_.size()) {
    return nullptr;
  }
  const std::int32_t site = rows_[static_cast<std::size_t>(arrival)].site;
  return site < 0 ? nullptr : sites_[static_cast<std::size_t>(site)].definition;
}

void ResultListModel::SetMagnet(int arrival, const Text& magnet) {
  if (arrival >= 0 && static_cast<std::size_t>(arrival) < rows_.size()) {
    rows_[static_cast<std::size_t>(arrival)].magnet = magnet;
  }
}

void ResultListModel::ShowColumns(const std::vector<ListColumn>& wanted) {
  std::vector<ListColumn> next = wanted;
  if (!rows_.empty()) {
    next.insert(next.end(), columns_.begin(), columns_.end());
  }
  std::sort(next.begin(), next.end());
  next.erase(std::unique(next.begin(), next.end()), next.end());
  // One column at a time, so that the header keeps the widths of the others.
  for (int section = columnCount() - 1; section >= 0; --section) {
    if (!std::binary_search(next.begin(), next.end(), ColumnAt(section))) {
      beginRemoveColumns(QModelIndex(), section, section);
      columns_.erase(columns_.begin() + section);
      endRemoveColumns();
    }
  }
  for (std::size_t i = 0; i < next.size(); ++i) {
    if (i >= columns_.size() || columns_[i] != next[i]) {
      beginInsertColumns(QModelIndex(), static_cast<int>(i), static_cast<int>(i));
      columns_.insert(columns_.begin() + static_cast<std::ptrdiff_t>(i), next[i]);
      endInsertColumns();
    }
  }
}

QString ResultListModel::TextOf(std::size_t store, ListColumn column) const {
  const Row& row = rows_[store];
  const bool programText = row.site < 0 ||
                           sites_[static_cast<std::size_t>(row.site)].definition == nullptr ||
                           sites_[static_cast<std::size_t>(row.site)].definition->programText;
  const auto shown = [&](const Text& text) { return SiteTextToQString(text, programText); };
  switch (column) {
    case ListColumn::kNumber:
      return ToQString(row.number);
    case ListColumn::kTitle:
      return shown(row.title);
    case ListColumn::kAddress:
      return shown(AddressOf(row));
    case ListColumn::kSize:
      return shown(row.size);
    case ListColumn::kSeeders:
      return shown(row.seeders);
    case ListColumn::kLeechers:
      return shown(row.leechers);
    case ListColumn::kDate:
      return row.dateSeconds ? ShortDate(*row.dateSeconds) : shown(row.date);
    case ListColumn::kSite:
      return row.site < 0 ? QString() : sites_[static_cast<std::size_t>(row.site)].name;
  }
  return QString();
}

bool ResultListModel::Shown(const Row& row) const {
  return !hideUnseeded_ || row.seederCount != 0;
}

// The order of two rows (indexes in rows_) in the shown list: by the sorted column, a number the
// site did not give last in either direction, ties by arrival.
bool ResultListModel::Before(std::int32_t left, std::int32_t right) const {
  const Row& a = rows_[static_cast<std::size_t>(left)];
  const Row& b = rows_[static_cast<std::size_t>(right)];
  const auto byNumber = [&](const std::optional<std::int64_t>& x,
                            const std::optional<std::int64_t>& y) -> int {
    if (x.has_value() != y.has_value()) {
      return x.has_value() ? -1 : 1;
    }
    if (!x || *x == *y) {
      return 0;
    }
    return (*x < *y) == sortAscending_ ? -1 : 1;
  };
  int order = 0;
  switch (sortColumn_) {
    case ListColumn::kNumber:
      return sortAscending_ ? left < right : left > right;
    case ListColumn::kSize:
      order = byNumber(a.sizeBytes, b.sizeBytes);
      break;
    case ListColumn::kSeeders:
      order = byNumber(a.seederCount, b.seederCount);
      break;
    case ListColumn::kLeechers:
      order = byNumber(a.leecherCount, b.leecherCount);
      break;
    case ListColumn::kDate:
      order = byNumber(a.dateSeconds, b.dateSeconds);
      break;
    case ListColumn::kTitle:
    case ListColumn::kAddress:
    case ListColumn::kSite: {
      const int compared = sortKeys_[static_cast<std::size_t>(left)].compare(
          sortKeys_[static_cast<std::size_t>(right)]);
      order = compared == 0 ? 0 : (compared < 0) == sortAscending_ ? -1 : 1;
      break;
    }
  }
  return order != 0 ? order < 0 : left < right;
}

// Rows from `firstNew` on, to their places in a sorted list (which has no rows left to publish:
// sorting and hiding publish first).
void ResultListModel::PlaceNewRows(std::size_t firstNew) {
  if (IsTextColumn(sortColumn_)) {
    sortKeys_.reserve(rows_.size());
    for (std::size_t i = sortKeys_.size(); i < rows_.size(); ++i) {
      sortKeys_.push_back(TextOf(i, sortColumn_));
    }
  }
  const auto before = [this](std::int32_t a, std::int32_t b) { return Before(a, b); };
  for (std::size_t i = firstNew; i < rows_.size(); ++i) {
    if (!Shown(rows_[i])) {
      continue;
    }
    const auto store = static_cast<std::int32_t>(i);
    const auto at = std::upper_bound(order_.begin(), order_.end(), store, before);
    const int place = static_cast<int>(at - order_.begin());
    beginInsertRows(QModelIndex(), place, place);
    order_.insert(at, store);
    endInsertRows();
  }
  publishedRows_ = rows_.size();
}

// order_ anew from every row: the shown ones in the sorted order.
void ResultListModel::Rebuild() {
  sortKeys_.clear();
  if (IsTextColumn(sortColumn_)) {
    sortKeys_.reserve(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      sortKeys_.push_back(TextOf(i, sortColumn_));
    }
  }
  order_.clear();
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (Shown(rows_[i])) {
      order_.push_back(static_cast<std::int32_t>(i));
    }
  }
  if (Arranged()) {
    std::sort(order_.begin(), order_.end(),
              [this](std::int32_t a, std::int32_t b) { return Before(a, b); });
  }
  publishedRows_ = rows_.size();
}

void ResultListModel::SortBy(int section, Qt::SortOrder order) {
  if (section < 0 || section >= columnCount()) {
    return;
  }
  Publish();
  Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<int> stores;
  stores.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before) {
    stores.push_back(StoreIndex(index.row()));
  }
  sortColumn_ = ColumnAt(section);
  sortAscending_ = order == Qt::AscendingOrder;
  Rebuild();
  std::vector<int> placeOf(rows_.size(), -1);
  for (std::size_t place = 0; place < order_.size(); ++place) {
    placeOf[static_cast<std::size_t>(order_[place])] = static_cast<int>(place);
  }
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) {
    const int store = stores[static_cast<std::size_t>(i)];
    after.push_back(store < 0
                        ? QModelIndex()
                        : index(placeOf[static_cast<std::size_t>(store)], before[i].column()));
  }
  changePersistentIndexList(before, after);
  Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void ResultListModel::HideUnseeded(bool hide) {
  if (hide == hideUnseeded_) {
    return;
  }
  Publish();
  beginResetModel();
  hideUnseeded_ = hide;
  Rebuild();
  endResetModel();
}

QString ResultListModel::TabSeparated(std::vector<int> rows) const {
  std::sort(rows.begin(), rows.end());
  QString text;
  for (const ListColumn column : columns_) {
    if (column != ListColumn::kAddress) {
      text += ColumnName(column) + u'\t';
    }
  }
  text += QStringLiteral("磁力链接\n");
  for (const int row : rows) {
    const int store = StoreIndex(row);
    if (store < 0) {
      continue;
    }
    for (const ListColumn column : columns_) {
      if (column != ListColumn::kAddress) {
        text += OneField(TextOf(static_cast<std::size_t>(store), column)) + u'\t';
      }
    }
    const Row& shown = rows_[static_cast<std::size_t>(store)];
    const Text& address = AddressOf(shown);
    const Text& magnet = !shown.magnet.empty()                   ? shown.magnet
                         : address.view().starts_with("magnet:") ? address
                                                                 : Text();
    text += OneField(ToQString(magnet)) + u'\n';
  }
  return text;
}

void ResultListModel::Publish() {
  publishTimer_.stop();
  if (dirtyFirst_ >= 0) {
    Q_EMIT dataChanged(index(dirtyFirst_, 0), index(dirtyLast_, columnCount() - 1));
    dirtyFirst_ = dirtyLast_ = -1;
  }
  if (publishedRows_ < rows_.size()) {
    const int first = static_cast<int>(order_.size());
    beginInsertRows(QModelIndex(), first,
                    first + static_cast<int>(rows_.size() - publishedRows_) - 1);
    for (std::size_t i = publishedRows_; i < rows_.size(); ++i) {
      order_.push_back(static_cast<std::int32_t>(i));
    }
    publishedRows_ = rows_.size();
    endInsertRows();
  }
}

void ResultListModel::SchedulePublish() {
  if (!publishTimer_.isActive()) {
    publishTimer_.start();
  }
}

int ResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int ResultListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || static_cast<std::size_t>(index.row()) >= order_.size()) {
    return QVariant();
  }
  const ListColumn column = ColumnAt(index.column());
  if (role == Qt::TextAlignmentRole) {
    const bool count = column == ListColumn::kSize || column == ListColumn::kSeeders ||
                       column == ListColumn::kLeechers;
    return count ? QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
  }
  if (role != Qt::DisplayRole) {
    return QVariant();
  }
  return TextOf(static_cast<std::size_t>(order_[static_cast<std::size_t>(index.row())]), column);
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
    return QVariant();
  }
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole) {
    return QVariant();
  }
  return ColumnName(ColumnAt(section));
}

}  // namespace mf
