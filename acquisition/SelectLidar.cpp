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
  connect(ui_->pushButton_OK, &QPushButton::clicked, this, &SelectLidar::ReturnCurrentItem);
  connect(ui_->pushButton_Close, &QPushButton::clicked, this, &SelectLidar::CloseWindow);
}

SelectLidar::~SelectLidar() { delete ui_; }

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
