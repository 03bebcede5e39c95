// CReportList: the report-style list of the forwarding editors and the journal
// view: fixed columns with pixel widths, single selection highlighted across
// the whole row (also while the list has no focus), a small image before each
// row where the page gives one, and headers that are not buttons, so a click
// on a header never reorders the rows.
//
// Nothing here fails: a row or column out of range is ignored or reads as
// empty. User-interface thread only.
#pragma once

#include <QIcon>
#include <QStringList>
#include <QTableWidget>

#include <vector>

namespace kestrel {

class CReportList : public QTableWidget {
  Q_OBJECT

 public:
  struct Column {
    QString title;
    int width;  // pixels of a font whose digits are 6 pixels wide
  };

  explicit CReportList(QWidget* parent = nullptr);

  // Replaces the columns (and removes every row).
  void SetColumns(const std::vector<Column>& columns);
  // The width a column of `pixels` gets: the widths were chosen for a font
  // whose digits are 6 pixels wide; a larger font widens them in proportion,
  // so a column holds the same number of digits.
  int ScaledWidth(int pixels) const;
  // Widens each column to what its header and the rows inserted so far need
  // to be read whole; a column never gets narrower than its scaled width.
  void FitColumnsToContents();

  // Inserts a row at `index` (clamped to 0..ItemCount()); returns its index.
  int InsertItem(int index, const QStringList& cells, const QIcon& icon = {});
  // Inserts a row where the first column's text keeps the rows in ascending
  // order (without regard to case; after rows with the same text).
  int InsertSorted(const QStringList& cells, const QIcon& icon = {});
  // Moves `row` to where its first column's text belongs; returns its new index.
  int Resort(int row);

  void DeleteAllItems();
  void DeleteItem(int row);
  int ItemCount() const { return rowCount(); }

  // The selected row, or -1 when none is selected.
  int SelectionMark() const;
  void SelectRow(int row);

  QString ItemText(int row, int column) const;
  void SetItemText(int row, int column, const QString& text);

 signals:
  // A double-click on a row (after it was selected).
  void RowDoubleClicked(int row);

 private:
  int SortedIndexFor(const QString& key, int skipRow) const;

  std::vector<int> minimumWidths_;  // scaled widths of SetColumns
  std::vector<int> contentWidths_;  // widest text seen per column, with margins
};

}  // namespace kestrel
