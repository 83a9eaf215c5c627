// The point table: headers, cell formats, the normal rows and the selection rows with their
// counter.
#include "app/point_table.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTableView>
#include <vector>

namespace tovik {
namespace {

TablePoint samplePoint(int intensity = 7) {
  return TablePoint{1.23456f, -0.5f, 12.0f, 123.4567f, 12.3456f, intensity, 11, 1234567890123ull};
}

QString cell(const QStandardItemModel& m, int row, int column) {
  const QStandardItem* item = m.item(row, column);
  return item ? item->text() : QString();
}

class PointTableTest : public ::testing::Test {
 protected:
  void SetUp() override { table.reset(); }
  QStandardItemModel model;
  PointTable table{&model};
};

TEST_F(PointTableTest, ResetClearsAndSetsTheEightHeaders) {
  table.writeRow(5, 0, samplePoint());
  QTableView view;
  table.reset(&view);
  EXPECT_EQ(view.model(), &model);
  EXPECT_EQ(model.rowCount(), 0);
  ASSERT_EQ(model.columnCount(), 8);
  const QStringList headers = {"PointID",   "Points_m_XYZ", "Azimuth",      "Distance_m",
                               "Intensity", "Channel",      "Adjustedtime", "Timestamp"};
  for (int c = 0; c < 8; ++c)
    EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), headers[c]) << c;
}

TEST_F(PointTableTest, CellFormats) {
  table.writeRow(2, 3, samplePoint());
  ASSERT_EQ(model.rowCount(), 3);
  EXPECT_EQ(cell(model, 2, 0), "3");
  EXPECT_EQ(cell(model, 2, 1), "1.2346 -0.5000 12.0000");
  EXPECT_EQ(cell(model, 2, 2), "123.457");
  EXPECT_EQ(cell(model, 2, 3), "12.3456");
  EXPECT_EQ(cell(model, 2, 4), "7");
  EXPECT_EQ(cell(model, 2, 5), "11");
  EXPECT_EQ(cell(model, 2, 6), "1234567890123");
  EXPECT_EQ(cell(model, 2, 7), "1234567890123");
  // Rows before the written one exist but stay empty.
  EXPECT_EQ(model.item(0, 0), nullptr);

  // Times go through a double: 2^53 + 1 is shown as 2^53.
  TablePoint p = samplePoint();
  p.adjustedTime = (1ull << 53) + 1;
  table.writeRow(2, 3, p);
  EXPECT_EQ(cell(model, 2, 6), "9007199254740992");
  EXPECT_EQ(cell(model, 2, 7), "9007199254740992");
  EXPECT_EQ(cell(model, 2, 4), "7");
}

TEST_F(PointTableTest, NormalRowsLandOnTheirRowsAndOldRowsStay) {
  std::vector<NormalRow> rows;
  for (int slot = 0; slot < 8; ++slot) rows.push_back({8 + slot, slot, samplePoint(slot)});
  table.writeNormalRows(rows);
  EXPECT_EQ(model.rowCount(), 16);
  EXPECT_EQ(cell(model, 15, 0), "7");
  EXPECT_EQ(cell(model, 15, 4), "7");

  // A later revolution in which the channel yields only two points.
  table.writeNormalRows({{8, 0, samplePoint(100)}, {9, 1, samplePoint(101)}});
  EXPECT_EQ(cell(model, 8, 4), "100");
  EXPECT_EQ(cell(model, 9, 4), "101");
  EXPECT_EQ(cell(model, 10, 4), "2");
  EXPECT_EQ(cell(model, 15, 4), "7");
}

// 100 selected points with the scroll bar at row 50: each revolution writes rows 50..80 only.
TEST_F(PointTableTest, SelectionRowsOnlyAroundTheVisibleRows) {
  std::vector<TablePoint> inBox(100, samplePoint(1));
  for (int r = 0; r < 100; ++r) table.writeRow(r, r, samplePoint(0));

  int counter = 0;
  table.writeSelectionRows(inBox, 100, 50, &counter);
  EXPECT_EQ(counter, 100);
  for (int r = 0; r < 100; ++r) {
    const bool visible = r >= 50 && r <= 80;
    EXPECT_EQ(cell(model, r, 4), visible ? "1" : "0") << "row " << r;
    EXPECT_EQ(cell(model, r, 0), QString::number(r));
  }

  // The next revolution wraps the counter at the first point and writes the same rows again.
  std::fill(inBox.begin(), inBox.end(), samplePoint(2));
  table.writeSelectionRows(inBox, 100, 50, &counter);
  EXPECT_EQ(counter, 100);
  for (int r = 0; r < 100; ++r) {
    const bool visible = r >= 50 && r <= 80;
    EXPECT_EQ(cell(model, r, 4), visible ? "2" : "0") << "row " << r;
  }
  EXPECT_EQ(model.rowCount(), 100);
}

// #9: the live selection table grew only to the 31 rows written, so its scroll bar never moved
// and no row beyond them could be reached.
TEST_F(PointTableTest, SelectionRowsExistUpFrontSoTheViewScrollsToThem) {
  QTableView view;
  table.reset(&view);
  table.sizeForSelection(100);
  EXPECT_EQ(model.rowCount(), 100);
  view.resize(400, 300);
  view.show();
  QCoreApplication::processEvents();
  view.verticalScrollBar()->setValue(50);
  ASSERT_EQ(view.verticalScrollBar()->value(), 50);

  int counter = 0;
  table.writeSelectionRows(std::vector<TablePoint>(100, samplePoint(3)), 100,
                           view.verticalScrollBar()->value(), &counter);
  for (int r = 0; r < 100; ++r)
    EXPECT_EQ(cell(model, r, 4), r >= 50 && r <= 80 ? "3" : "") << "row " << r;
  EXPECT_EQ(model.rowCount(), 100);
}

struct WrapCase {
  const char* name;
  int points;
  int selectedCount;
  int scroll;
  int counterBefore;
  int counterAfter;
  // Expected intensity (index of the in-box point) per row 0..selectedCount-1, -1 = unwritten.
  std::vector<int> sourceOfRow;
};

class SelectionCounter : public ::testing::TestWithParam<WrapCase> {};

TEST_P(SelectionCounter, WrapsAtSelectedCount) {
  const WrapCase& c = GetParam();
  QStandardItemModel model;
  PointTable table(&model);
  table.reset();
  std::vector<TablePoint> inBox;
  for (int i = 0; i < c.points; ++i) inBox.push_back(samplePoint(i));
  int counter = c.counterBefore;
  table.writeSelectionRows(inBox, c.selectedCount, c.scroll, &counter);
  EXPECT_EQ(counter, c.counterAfter);
  for (size_t r = 0; r < c.sourceOfRow.size(); ++r) {
    const QString expected = c.sourceOfRow[r] < 0 ? QString() : QString::number(c.sourceOfRow[r]);
    EXPECT_EQ(cell(model, int(r), 4), expected) << "row " << r;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SelectionCounter,
    ::testing::Values(
        // 25 in-box points over 10 selected: the last pass over each row wins.
        WrapCase{
            "MorePointsThanSelected", 25, 10, 0, 0, 5, {20, 21, 22, 23, 24, 15, 16, 17, 18, 19}},
        // The counter continues from the previous revolution and wraps.
        WrapCase{
            "ContinuesFromPreviousRevolution", 5, 10, 0, 7, 2, {3, 4, -1, -1, -1, -1, -1, 0, 1, 2}},
        // Rows below the scroll value are skipped but still counted.
        WrapCase{"ScrolledDown", 6, 6, 3, 0, 6, {-1, -1, -1, 3, 4, 5}},
        // A counter left beyond a smaller new selection restarts at 0.
        WrapCase{"CounterBeyondNewSelection", 2, 3, 0, 40, 2, {0, 1, -1}}),
    [](const ::testing::TestParamInfo<WrapCase>& info) { return info.param.name; });

TEST_F(PointTableTest, StoredSelectionWritesEveryRowAndWraps) {
  std::vector<TablePoint> inBox;
  for (int i = 0; i < 45; ++i) inBox.push_back(samplePoint(i));
  table.writeStoredSelection(inBox, 40);
  EXPECT_EQ(model.rowCount(), 40);
  EXPECT_EQ(cell(model, 0, 0), "0");
  EXPECT_EQ(cell(model, 0, 4), "40");  // wrapped over by point 40
  EXPECT_EQ(cell(model, 4, 4), "44");
  EXPECT_EQ(cell(model, 5, 4), "5");
  EXPECT_EQ(cell(model, 39, 0), "39");
  EXPECT_EQ(cell(model, 39, 4), "39");
}

}  // namespace
}  // namespace tovik

int main(int argc, char** argv) {
  // A table view needs an application, but no screen.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
