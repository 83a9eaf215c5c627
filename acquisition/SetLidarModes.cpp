#include "acquisition/SetLidarModes.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QPushButton>

#include "ui_SetLidarModes.h"

namespace {

void clickButton(QButtonGroup* group, int id) {
  if (QAbstractButton* button = group->button(id)) button->click();
}

}  // namespace

SetLidarModes::SetLidarModes(QWidget* parent) : QWidget(parent), ui_(new Ui::SetLidarModes) {
  ui_->setupUi(this);
  resize(500, 200);
  initSetting();
}

SetLidarModes::~SetLidarModes() { delete ui_; }

void SetLidarModes::initSetting() {
  if (echoGroup_ != nullptr) return;  // the groups exist once per window

  echoGroup_ = new QButtonGroup(this);
  echoGroup_->addButton(ui_->checkBox_firstEcho, 0);
  echoGroup_->addButton(ui_->checkBox_secondEcho, 1);
  degreeGroup_ = new QButtonGroup(this);
  degreeGroup_->addButton(ui_->checkBox_degree2, 0);
  degreeGroup_->addButton(ui_->checkBox_degree133, 1);
  resolutionGroup_ = new QButtonGroup(this);
  resolutionGroup_->addButton(ui_->checkBox_resolution025, 0);
  resolutionGroup_->addButton(ui_->checkBox_resolution04, 1);
  for (QButtonGroup* group : {echoGroup_, degreeGroup_, resolutionGroup_}) {
    group->setExclusive(true);
    // The boxes show the values OK would report before the operator touches anything.
    group->button(0)->setChecked(true);
  }

  connect(echoGroup_, &QButtonGroup::idClicked, this, &SetLidarModes::selectEchoMode);
  connect(degreeGroup_, &QButtonGroup::idClicked, this, &SetLidarModes::selectDegreeMode);
  connect(resolutionGroup_, &QButtonGroup::idClicked, this, &SetLidarModes::selectAccuaryMode);
  connect(ui_->pushButton_OK, &QPushButton::clicked, this, &SetLidarModes::onOkButton);
}

void SetLidarModes::setConfig(QString echoMode, int degreeMode, int accuaryMode) {
  if (echoMode == QLatin1String("Tovik161")) {
    clickButton(echoGroup_, 0);
  } else if (echoMode == QLatin1String("Tovik162")) {
    clickButton(echoGroup_, 1);
  }
  clickButton(degreeGroup_, degreeMode);
  clickButton(resolutionGroup_, accuaryMode);
}

void SetLidarModes::selectEchoMode(int id) {
  sensorType = id != 0 ? QStringLiteral("Tovik162") : QStringLiteral("Tovik161");
}

void SetLidarModes::selectDegreeMode(int mode) { degree = mode != 0 ? 1 : 0; }

void SetLidarModes::selectAccuaryMode(int id) { resolution = id != 0 ? 1 : 0; }

void SetLidarModes::onOkButton() { emit sendConfig(sensorType, degree, resolution); }
