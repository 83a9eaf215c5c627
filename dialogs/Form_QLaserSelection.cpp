#include "dialogs/Form_QLaserSelection.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QTableWidgetItem>

#include "acquisition/geometry.h"
#include "ui_Form_QLaserSelection.h"

namespace {

// Column 1 texts of a row: the nominal angle of the row's channel, shortest form ("-8.665",
// "2", "-10").
QString angleText(int mode, int channel) {
  return QString::number(double(tovik::nominalVerticalAngles(mode)[channel]), 'g', 6);
}

// The form's geometries were laid out for a narrower system font; where a check box's text would
// be cut, its font is made smaller (down to 7 pt) rather than the box wider.
void fitTextToWidth(QCheckBox* box) {
  QFont font = box->font();
  while (box->sizeHint().width() > box->width() && font.pointSizeF() > 7.0) {
    font.setPointSizeF(font.pointSizeF() - 0.5);
    box->setFont(font);
  }
}

QTableWidgetItem* readOnlyItem(const QString& text) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  item->setTextAlignment(Qt::AlignCenter);
  return item;
}

}  // namespace

Form_QLaserSelection::Form_QLaserSelection(QWidget* parent)
    : QWidget(parent), ui_(new Ui::Form_QLaserSelection) {
  rowEnabled_.fill(1);
  ui_->setupUi(this);
  setFixedSize(471, 502);
  setWindowFlags(Qt::WindowStaysOnTopHint);
  setAttribute(Qt::WA_QuitOnClose, false);

  QTableWidget* table = ui_->tableWidget_laserselection;
  table->setRowCount(kRows);
  table->setColumnCount(3);
  table->setHorizontalHeaderLabels({tr(" "), tr("Vertical Angle"), tr("Channel")});
  table->verticalHeader()->setVisible(false);
  table->verticalHeader()->setDefaultSectionSize(24);
  table->setColumnWidth(0, 40);
  table->setColumnWidth(1, 200);
  table->horizontalHeader()->setStretchLastSection(true);
  table->setSelectionBehavior(QAbstractItemView::SelectItems);
  table->setSelectionMode(QAbstractItemView::ExtendedSelection);
  for (int row = 0; row < kRows; ++row) {
    auto* box = new QCheckBox(table);
    box->setChecked(true);
    box->setStyleSheet(QStringLiteral("margin-left: 12px;"));
    table->setCellWidget(row, 0, box);
    rowBoxes_[row] = box;
  }
  fillColumns(0);
  fitTextToWidth(ui_->checkBox);
  fitTextToWidth(ui_->checkBox_2);

  connect(ui_->checkBox, &QCheckBox::clicked, this, &Form_QLaserSelection::Checkstate);
  connect(ui_->pushButton_toggleselection, &QPushButton::clicked, this,
          &Form_QLaserSelection::Parity);
  connect(ui_->checkBox_2, &QCheckBox::clicked, this, &Form_QLaserSelection::Checkstate2);
  connect(ui_->pushButton_OK, &QPushButton::clicked, this, &Form_QLaserSelection::onOk_Clicked);
  connect(ui_->pushButton_Cancel, &QPushButton::clicked, this,
          &Form_QLaserSelection::onCancel_Clicked);
}

Form_QLaserSelection::~Form_QLaserSelection() { delete ui_; }

bool Form_QLaserSelection::channelShown(int channel) const {
  if (channel < 0 || channel >= kRows) return false;
  return rowEnabled_[kChannelToRow[channel]] != 0;
}

void Form_QLaserSelection::fillColumns(int mode) {
  QTableWidget* table = ui_->tableWidget_laserselection;
  for (int channel = 0; channel < kRows; ++channel) {
    const int row = kChannelToRow[channel];
    table->setItem(row, 1, readOnlyItem(angleText(mode, channel)));
    table->setItem(row, 2, readOnlyItem(QString::number(channel)));
  }
}

void Form_QLaserSelection::onCancel_Clicked() { close(); }

void Form_QLaserSelection::onOk_Clicked() {
  for (int row = 0; row < kRows; ++row) rowEnabled_[row] = rowBoxes_[row]->isChecked() ? 1 : 0;
  emit sendChannelFlags();
}

void Form_QLaserSelection::Checkstate() {
  for (QCheckBox* box : rowBoxes_) box->setChecked(toggle_);
  toggle_ = !toggle_;
}

void Form_QLaserSelection::Parity() {
  // toggle_ false: even rows checked; true: odd rows checked.
  for (int row = 0; row < kRows; ++row) rowBoxes_[row]->setChecked((row % 2 == 1) == toggle_);
  toggle_ = !toggle_;
}

void Form_QLaserSelection::Checkstate2() {
  if (!ui_->checkBox_2->isChecked()) return;
  for (QCheckBox* box : rowBoxes_) {
    if (box->isChecked()) box->setChecked(true);
  }
}

void Form_QLaserSelection::ReceiveDegreeMode(int ReturnModel) {
  angleMode_ = ReturnModel;
  if (ReturnModel == 0 || ReturnModel == 1) fillColumns(ReturnModel);
}
