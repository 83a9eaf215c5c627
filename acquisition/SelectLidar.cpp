#include "acquisition/SelectLidar.h"

#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include "ui_SelectLidar.h"

SelectLidar::SelectLidar(QWidget* parent) : QWidget(parent), ui_(new Ui::SelectLidar) {
  ui_->setupUi(this);
  // Shown and hidden by the main window; closing it must not end the application.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFixedSize(280, 350);
  ui_->listWidget->setCurrentRow(-1);
  ui_->label_recordedAs->hide();  // shown once a capture names its sensor type
  connect(ui_->pushButton_OK, &QPushButton::clicked, this, &SelectLidar::ReturnCurrentItem);
  connect(ui_->pushButton_Close, &QPushButton::clicked, this, &SelectLidar::CloseWindow);
}

SelectLidar::~SelectLidar() { delete ui_; }

void SelectLidar::preselect(const QString& sensorType) {
  const QList<QListWidgetItem*> rows = ui_->listWidget->findItems(sensorType, Qt::MatchExactly);
  if (sensorType.isEmpty() || rows.isEmpty()) {
    preselected_.clear();
    ui_->listWidget->clearSelection();
    ui_->listWidget->setCurrentRow(-1);
    ui_->label_recordedAs->hide();
    return;
  }
  preselected_ = sensorType;
  ui_->listWidget->setCurrentItem(rows.front(), QItemSelectionModel::ClearAndSelect);
  ui_->label_recordedAs->setText(tr("Recorded by the device as %1").arg(sensorType));
  ui_->label_recordedAs->show();
}

void SelectLidar::ReturnCurrentItem() {
  // A list view makes its first row current (but not selected) when it gains keyboard focus,
  // so only a selected current row counts as the operator's choice.
  const QListWidgetItem* item = ui_->listWidget->currentItem();
  if (item == nullptr || !item->isSelected()) {
    QMessageBox::information(this, tr("warring"), tr("Please select sensor."), QMessageBox::Ok);
    return;
  }
  emit sendData(item->text());
  close();
}

void SelectLidar::CloseWindow() { close(); }
