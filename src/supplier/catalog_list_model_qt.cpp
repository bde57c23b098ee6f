#include "supplier/catalog_list_model_qt.h"

#include <QItemSelectionModel>
#include <QMouseEvent>

#include "platform/qt_text_qt.h"

namespace korvani {

CatalogListModel::CatalogListModel(QObject* parent) : QAbstractListModel(parent) {}

int CatalogListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : list_.size(); }

QVariant CatalogListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= list_.size()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return to_qstring(list_.text(index.row()));
    case Qt::CheckStateRole:
      return list_.ticked(index.row()) ? Qt::Checked : Qt::Unchecked;
    default:
      return {};
  }
}

Qt::ItemFlags CatalogListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

bool CatalogListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= list_.size()) return false;
  set_ticked(index.row(), value.toInt() == Qt::Checked);
  return true;
}

void CatalogListModel::set_items(std::vector<Text> items) {
  beginResetModel();
  list_.assign(std::move(items));
  endResetModel();
}

void CatalogListModel::clear() { set_items({}); }

bool CatalogListModel::ticked(int row) const { return row >= 0 && row < list_.size() && list_.ticked(row); }

Text CatalogListModel::text(int row) const { return row >= 0 && row < list_.size() ? list_.text(row) : Text(); }

void CatalogListModel::set_ticked(int row, bool ticked) {
  if (list_.set_ticked(row, ticked)) ticks_changed({row});
}

void CatalogListModel::follow_parent(int current) { ticks_changed(list_.follow_parent(current)); }

void CatalogListModel::set_all(bool ticked) {
  if (list_.set_all(ticked)) {
    emit dataChanged(index(0), index(list_.size() - 1), {Qt::CheckStateRole});
  }
}

void CatalogListModel::ticks_changed(const std::vector<int>& rows) {
  // The rows come in list order; each run of neighbours is one notice.
  std::size_t i = 0;
  while (i < rows.size()) {
    std::size_t j = i;
    while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
    emit dataChanged(index(rows[i]), index(rows[j]), {Qt::CheckStateRole});
    i = j + 1;
  }
}

CatalogListBox::CatalogListBox(QWidget* parent) : QListView(parent), model_(new CatalogListModel(this)) {
  setObjectName(QStringLiteral("选择列表框1"));
  // One height for every row: the view lays out a long catalog without
  // measuring each item.
  setUniformItemSizes(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setModel(model_);
}

int CatalogListBox::current_row() const {
  // The item the user last clicked or moved to, as long as it is selected.
  const QModelIndex current = currentIndex();
  if (!current.isValid() || !selectionModel() || !selectionModel()->isSelected(current)) return -1;
  return current.row();
}

void CatalogListBox::mousePressEvent(QMouseEvent* event) {
  // A click on an item's check box makes it the current item too, as in a
  // check list box; the view alone would only toggle the tick.
  const QModelIndex index = indexAt(event->position().toPoint());
  if (index.isValid() && event->button() == Qt::LeftButton) setCurrentIndex(index);
  QListView::mousePressEvent(event);
}

void CatalogListBox::dataChanged(const QModelIndex& top_left, const QModelIndex& bottom_right,
                                 const QList<int>& roles) {
  // A tick changes no row's size, yet the list view answers every change
  // with a new layout of all rows: a pass over the whole catalog on each
  // timer event. Repainting the rows in view is all a tick needs.
  if (roles.size() == 1 && roles.front() == Qt::CheckStateRole) {
    const QRect changed = (visualRect(top_left) | visualRect(bottom_right)).intersected(viewport()->rect());
    if (!changed.isEmpty()) viewport()->update(changed);
    return;
  }
  QListView::dataChanged(top_left, bottom_right, roles);
}

CatalogTableModel::CatalogTableModel(const CatalogTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table), shown_rows_(static_cast<int>(table.size())) {}

int CatalogTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_rows_; }

int CatalogTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant CatalogTableModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_rows_) return {};
  const CatalogRow& row = table_.rows()[static_cast<std::size_t>(index.row())];
  switch (index.column()) {
    case 0: return to_qstring(row.number);
    case 1: return to_qstring(row.main_id);
    case 2: return to_qstring(row.main_name);
    case 3: return to_qstring(row.sub_id);
    case 4: return to_qstring(row.sub_name);
    default: return {};
  }
}

QVariant CatalogTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const QString headings[] = {QStringLiteral("序列号"), QStringLiteral("主目录ID"), QStringLiteral("主目录名称"),
                                     QStringLiteral("子目录ID"), QStringLiteral("子目录名称")};
  return section >= 0 && section < 5 ? QVariant(headings[section]) : QVariant();
}

void CatalogTableModel::rows_appended() {
  const int rows = static_cast<int>(table_.size());
  if (rows <= shown_rows_) return;
  beginInsertRows(QModelIndex(), shown_rows_, rows - 1);
  shown_rows_ = rows;
  endInsertRows();
}

}  // namespace korvani
