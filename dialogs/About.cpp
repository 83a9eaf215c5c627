#include "dialogs/About.h"

#include "device/device_text.h"
#include "tovik16_version.h"
#include "ui_About.h"

About::About(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::About>()) {
  ui_->setupUi(this);
  // The build of this program, as its --version prints it, under the version line.
  ui_->label_buildVersion->setText(QStringLiteral(" Tovik16 Studio ") +
                                   QString::fromStdString(tovik::versionText()));
  setAttribute(Qt::WA_QuitOnClose, false);
}

About::~About() = default;

void About::sSetVersion(QStringList Versions) {
  if (Versions.size() < tovik::kVersionCount) return;
  versions_ = Versions.mid(0, tovik::kVersionCount);
  ui_->label_2ndFPGA->setText(versions_[tovik::kVersionFpga2]);
  ui_->label_3ndFPGA->setText(versions_[tovik::kVersionFpga3]);
  ui_->label_LidarNumber->setText(versions_[tovik::kVersionLidarId]);
  ui_->label_2ndHardware->setText(versions_[tovik::kVersionHardware2]);
  ui_->label_3ndHardware->setText(versions_[tovik::kVersionHardware3]);
  ui_->label_emisionBoard->setText(versions_[tovik::kVersionEmission]);
  ui_->label_receiveBoard->setText(versions_[tovik::kVersionReceive]);
  ui_->label_structVer->setText(versions_[tovik::kVersionStructure]);
}
