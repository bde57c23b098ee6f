#pragma once
// The catalog check list as the window shows it: a model of checkable items
// over CheckList, and the view `选择列表框1`. Item texts stay code-page bytes
// and become QStrings only when a row is painted, so a catalog of a hundred
// thousand directories fills and ticks in milliseconds. The catalog work
// table `超级列表框1` gets a read-only model over the rows of CatalogTable.
#include <QAbstractListModel>
#include <QAbstractTableModel>
#include <QListView>
#include <vector>

#include "supplier/catalog.h"
#include "supplier/selection.h"
#include "text/text.h"

namespace korvani {

class CatalogListModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit CatalogListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  // Replaces every item, all unticked.
  void set_items(std::vector<Text> items);
  void clear();

  int count() const { return list_.size(); }
  bool ticked(int row) const;
  Text text(int row) const;
  void set_ticked(int row, bool ticked);

  // The parent-follows rule with `current` as the current item (-1: none).
  void follow_parent(int current);
  // Select all / none.
  void set_all(bool ticked);

  const CheckList& list() const { return list_; }

 private:
  void ticks_changed(const std::vector<int>& rows);

  CheckList list_;
};

// The check list box: a list view of checkable items of one height.
class CatalogListBox : public QListView {
  Q_OBJECT

 public:
  explicit CatalogListBox(QWidget* parent = nullptr);
  CatalogListModel* catalog_model() const { return model_; }
  // The current item's row, -1 when there is none.
  int current_row() const;

  void dataChanged(const QModelIndex& top_left, const QModelIndex& bottom_right,
                   const QList<int>& roles = QList<int>()) override;

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  CatalogListModel* model_;
};

// The work table's rows, column by column as headed.
class CatalogTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit CatalogTableModel(const CatalogTable& table, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Tells the views about rows the table gained since the last call.
  void rows_appended();

 private:
  const CatalogTable& table_;
  int shown_rows_ = 0;
};

}  // namespace korvani
