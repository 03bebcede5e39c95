#include "desktop/report_list.h"

#include <QHeaderView>
#include <QPalette>

#include <algorithm>

namespace kestrel {
namespace {
// Room around a cell's text: the style's padding on both sides.
constexpr int kCellMargin = 16;
}  // namespace

CReportList::CReportList(QWidget* parent) : QTableWidget(parent) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setWordWrap(false);
  setSortingEnabled(false);
  setCornerButtonEnabled(false);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  horizontalHeader()->setSectionsClickable(false);
  horizontalHeader()->setSectionsMovable(false);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setStretchLastSection(false);
  horizontalHeader()->setMinimumSectionSize(8);
  setIconSize(QSize(16, 16));
  // The selection stays as visible without focus as with it.
  QPalette p = palette();
  p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
  p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
  setPalette(p);
  connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) emit RowDoubleClicked(index.row());
  });
}

void CReportList::SetColumns(const std::vector<Column>& columns) {
  clear();
  setRowCount(0);
  setColumnCount(static_cast<int>(columns.size()));
  QStringList titles;
  for (const Column& c : columns) titles << c.title;
  setHorizontalHeaderLabels(titles);
  minimumWidths_.clear();
  contentWidths_.clear();
  for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
    horizontalHeaderItem(i)->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    minimumWidths_.push_back(ScaledWidth(columns[static_cast<size_t>(i)].width));
    contentWidths_.push_back(
        horizontalHeader()->fontMetrics().horizontalAdvance(columns[static_cast<size_t>(i)].title) + kCellMargin);
    setColumnWidth(i, minimumWidths_.back());
  }
}

void CReportList::FitColumnsToContents() {
  for (int c = 0; c < columnCount() && c < static_cast<int>(minimumWidths_.size()); ++c)
    setColumnWidth(c, std::max(minimumWidths_[static_cast<size_t>(c)], contentWidths_[static_cast<size_t>(c)]));
}

int CReportList::ScaledWidth(int pixels) const {
  const double digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
  return qRound(pixels * std::max(1.0, digit / 6.0));
}

int CReportList::InsertItem(int index, const QStringList& cells, const QIcon& icon) {
  index = std::clamp(index, 0, rowCount());
  insertRow(index);
  for (int c = 0; c < columnCount(); ++c) {
    auto* item = new QTableWidgetItem(c < cells.size() ? cells[c] : QString());
    if (c < static_cast<int>(contentWidths_.size()) && c < cells.size()) {
      const int needed = fontMetrics().horizontalAdvance(cells[c]) + kCellMargin +
                         (c == 0 && !icon.isNull() ? iconSize().width() + 4 : 0);
      contentWidths_[static_cast<size_t>(c)] = std::max(contentWidths_[static_cast<size_t>(c)], needed);
    }
    item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    if (c == 0 && !icon.isNull()) item->setIcon(icon);
    setItem(index, c, item);
  }
  return index;
}

int CReportList::SortedIndexFor(const QString& key, int skipRow) const {
  int index = 0;
  for (int r = 0; r < rowCount(); ++r) {
    if (r == skipRow) continue;
    if (QString::compare(ItemText(r, 0), key, Qt::CaseInsensitive) <= 0)
      ++index;
    else
      break;
  }
  return index;
}

int CReportList::InsertSorted(const QStringList& cells, const QIcon& icon) {
  return InsertItem(SortedIndexFor(cells.value(0), -1), cells, icon);
}

int CReportList::Resort(int row) {
  if (row < 0 || row >= rowCount()) return row;
  const int target = SortedIndexFor(ItemText(row, 0), row);
  if (target == row) return row;
  const bool wasSelected = SelectionMark() == row;
  QList<QTableWidgetItem*> items;
  for (int c = 0; c < columnCount(); ++c) items << takeItem(row, c);
  removeRow(row);
  insertRow(target);
  for (int c = 0; c < columnCount(); ++c) setItem(target, c, items[c]);
  if (wasSelected) SelectRow(target);
  return target;
}

void CReportList::DeleteAllItems() {
  clearSelection();
  setRowCount(0);
}

void CReportList::DeleteItem(int row) {
  if (row >= 0 && row < rowCount()) removeRow(row);
}

int CReportList::SelectionMark() const {
  const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
  if (ranges.isEmpty()) return -1;
  return ranges.first().topRow();
}

void CReportList::SelectRow(int row) {
  if (row < 0 || row >= rowCount()) {
    clearSelection();
    return;
  }
  setCurrentCell(row, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QString CReportList::ItemText(int row, int column) const {
  const QTableWidgetItem* i = item(row, column);
  return i ? i->text() : QString();
}

void CReportList::SetItemText(int row, int column, const QString& text) {
  if (QTableWidgetItem* i = item(row, column)) i->setText(text);
}

}  // namespace kestrel
