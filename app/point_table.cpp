#include "app/point_table.h"

#include <QStandardItem>
#include <QStandardItemModel>
#include <QStringList>
#include <QTableView>
#include <algorithm>

namespace tovik {

namespace {

constexpr int kColumnCount = 8;
// Rows around the top of the visible part of the table refreshed in selection mode: v..v+30.
constexpr int kVisibleSelectionRows = 30;

QString fixed(double v, int decimals) { return QString::number(v, 'f', decimals); }

}  // namespace

PointTable::PointTable(QStandardItemModel* model) : model_(model) {}

void PointTable::reset(QTableView* view) {
  static const char* const kHeaders[kColumnCount] = {"PointID",      "Points_m_XYZ", "Azimuth",
                                                     "Distance_m",   "Intensity",    "Channel",
                                                     "Adjustedtime", "Timestamp"};
  model_->clear();
  model_->setColumnCount(kColumnCount);
  for (int c = 0; c < kColumnCount; ++c)
    model_->setHeaderData(c, Qt::Horizontal, QString::fromLatin1(kHeaders[c]), Qt::EditRole);
  if (view) view->setModel(model_);
}

void PointTable::sizeForSelection(int selectedCount) {
  model_->setRowCount(std::max(0, selectedCount));
}

void PointTable::writeRow(int row, int pointId, const TablePoint& p) {
  // Times are 64-bit microseconds shown through a double, as whole numbers.
  const QString time = fixed(double(p.adjustedTime), 0);
  const QString cells[kColumnCount] = {
      QString::number(pointId),
      fixed(p.x, 4) + QLatin1Char(' ') + fixed(p.y, 4) + QLatin1Char(' ') + fixed(p.z, 4),
      fixed(p.azimuth, 3),
      fixed(p.distanceM, 4),
      QString::number(p.intensity),
      QString::number(p.channel),
      time,
      time};
  for (int c = 0; c < kColumnCount; ++c) {
    // A cell that already holds an item is rewritten in place and only when its text changes:
    // the same eight rows per channel are refreshed on every revolution, and an unchanged cell
    // needs no new item and no repaint.
    QStandardItem* item = row < model_->rowCount() ? model_->item(row, c) : nullptr;
    if (!item) {
      model_->setItem(row, c, new QStandardItem(cells[c]));
    } else if (item->text() != cells[c]) {
      item->setText(cells[c]);
    }
  }
}

void PointTable::writeNormalRows(const std::vector<NormalRow>& rows) {
  for (const NormalRow& r : rows) writeRow(r.row, r.pointId, r.point);
}

void PointTable::writeSelectionRows(const std::vector<TablePoint>& inBox, int selectedCount,
                                    int scrollValue, int* counter) {
  for (const TablePoint& p : inBox) {
    if (*counter >= selectedCount) *counter = 0;
    if (*counter >= scrollValue && *counter <= scrollValue + kVisibleSelectionRows)
      writeRow(*counter, *counter, p);
    ++*counter;
  }
}

void PointTable::writeStoredSelection(const std::vector<TablePoint>& inBox, int selectedCount) {
  int r = 0;
  for (const TablePoint& p : inBox) {
    if (r >= selectedCount) r = 0;
    writeRow(r, r, p);
    ++r;
  }
}

}  // namespace tovik
