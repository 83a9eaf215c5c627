#include "dialogs/SaveDataOptions.h"

SaveDataOptions::SaveDataOptions(QWidget* parent) : QWidget(parent) {
  setWindowTitle(tr("SaveDataOptions"));
  resize(515, 648);
}
