#include "dialogs/SaveDataOptions.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <cmath>

#include "ui_SaveDataOptions.h"

namespace {

QTableWidgetItem* centredItem(int value) {
  auto* item = new QTableWidgetItem(QString::number(value));
  item->setTextAlignment(Qt::AlignCenter);
  return item;
}

}  // namespace

SaveDataOptions::SaveDataOptions(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::SaveDataOptions>()) {
  ui_->setupUi(this);
  ui_->checkBox_selectAll->setChecked(true);

  QTableWidget* table = ui_->tableWidget_lines;
  table->setColumnCount(3);
  table->setRowCount(kChannels);
  table->setHorizontalHeaderLabels({tr(" "), tr("Channel"), tr("Vertical Angle")});
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  table->setSelectionBehavior(QAbstractItemView::SelectItems);
  table->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int r = 0; r < kChannels; ++r) {
    auto* box = new QCheckBox;
    box->setChecked(true);
    channelBoxes_[size_t(r)] = box;
    table->setCellWidget(r, 0, box);
    table->setItem(r, 1, centredItem(r));
    table->setItem(r, 2, centredItem(rowAngle(r)));
  }

  connect(ui_->pushButton_ok, &QPushButton::clicked, this, &SaveDataOptions::onOk_Clicked);
  connect(ui_->pushButton_cancel, &QPushButton::clicked, this, &SaveDataOptions::onCancel_Clicked);
  connect(ui_->checkBox_selectAll, &QCheckBox::clicked, this, &SaveDataOptions::SelectAllClicked);
}

SaveDataOptions::~SaveDataOptions() = default;

void SaveDataOptions::warn(const QString& text) {
  QMessageBox box(QMessageBox::Warning, tr("Warning"), text);
  QPushButton* ok = box.addButton(tr("OK"), QMessageBox::AcceptRole);
  box.setDefaultButton(ok);
  box.exec();
}

void SaveDataOptions::onOk_Clicked() {
  QList<int> lines;
  for (int r = 0; r < kChannels; ++r) {
    if (channelBoxes_[size_t(r)]->isChecked()) lines.append(r);
  }

  // Every export must end by itself after its revolutions, so a count that is not a whole
  // number of at least 1 is refused rather than passed on.
  int freams = 1;
  if (ui_->lineEdit_freamCount->text().isEmpty()) {
    ui_->lineEdit_freamCount->setText(QStringLiteral("1"));
  } else {
    bool ok = false;
    freams = ui_->lineEdit_freamCount->text().trimmed().toInt(&ok, 10);
    if (!ok || freams < 1) {
      warn(tr("Invalid frame count"));
      return;
    }
  }

  if (ui_->lineEdit_AngleMin->text().isEmpty() || ui_->lineEdit_AngleMax->text().isEmpty()) {
    warn(tr("Angle range can not be empty"));
    return;
  }
  // A text that is not a number reads as 0.
  float angleMin = ui_->lineEdit_AngleMin->text().toFloat();
  float angleMax = ui_->lineEdit_AngleMax->text().toFloat();
  if (!std::isfinite(angleMin) || !std::isfinite(angleMax) || angleMin > 360.0f ||
      angleMax > 360.0f || angleMin < 0.0f || angleMax < 0.0f) {
    warn(tr("Invalid angle"));
    return;
  }
  if (angleMin > angleMax) {
    warn(tr("Angle range invalid"));
    return;
  }
  // A single angle selects a window one degree wide around it.
  if (angleMin == angleMax) {
    angleMin -= 0.5f;
    angleMax += 0.5f;
  }
  emit sendOptions(true, freams, angleMin, angleMax, lines);
  hide();
}

void SaveDataOptions::onCancel_Clicked() {
  emit sendOptions(false, 1, 0.0f, 360.0f, QList<int>());
  hide();
}

void SaveDataOptions::SelectAllClicked() {
  const bool all = ui_->checkBox_selectAll->isChecked();
  for (QCheckBox* box : channelBoxes_) box->setChecked(all);
}
