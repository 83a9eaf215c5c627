// The point table of the "LidarData" dock: eight sample points per channel, or after an area
// selection the points in the selection box around the visible rows.
#pragma once

#include <vector>

#include "app/revolution_pass.h"

class QStandardItemModel;
class QTableView;

namespace tovik {

class PointTable {
 public:
  // The model is owned by the caller (the main window's tableModel).
  explicit PointTable(QStandardItemModel* model);

  // Clears the model, sets 8 columns and the headers "PointID", "Points_m_XYZ", "Azimuth",
  // "Distance_m", "Intensity", "Channel", "Adjustedtime", "Timestamp"; attaches it to view when
  // given.
  void reset(QTableView* view = nullptr);
  // Gives the model selectedCount empty rows: the rows of an area selection exist before the
  // revolutions write those around the visible part, so the view scrolls through all of them.
  void sizeForSelection(int selectedCount);
  // Writes the normal rows of one revolution.
  void writeNormalRows(const std::vector<NormalRow>& rows);
  // Writes the selection rows of one revolution: counter is the process-wide
  // selectionRowCounter; only rows v..v+30 (v = the scroll bar value) are written.
  void writeSelectionRows(const std::vector<TablePoint>& inBox, int selectedCount, int scrollValue,
                          int* counter);
  // Writes the selection rows once from the stored revolution (counter local, wraps at
  // selectedCount).
  void writeStoredSelection(const std::vector<TablePoint>& inBox, int selectedCount);
  // Writes one row: column 0 = pointId, then the point's columns.
  void writeRow(int row, int pointId, const TablePoint& p);

  QStandardItemModel* model() const { return model_; }

 private:
  QStandardItemModel* model_;
};

}  // namespace tovik
