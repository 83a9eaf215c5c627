#include "dialogs/About.h"

#include <QLabel>
#include <QVBoxLayout>

namespace {

constexpr int kVersionCount = 8;

}  // namespace

About::About(QWidget* parent) : QWidget(parent) {
  setWindowTitle(tr("About"));
  resize(553, 300);
  setAttribute(Qt::WA_QuitOnClose, false);
  label_ = new QLabel(tr("Tovik16 Studio"), this);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label_);
}

void About::sSetVersion(QStringList Versions) {
  if (Versions.size() < kVersionCount) return;
  versions_ = Versions.mid(0, kVersionCount);
  label_->setText(tr("Tovik16 Studio") + QStringLiteral("\n\n") +
                  versions_.join(QLatin1Char('\n')));
}
