#include "app/shortcuts_help.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace tovik {

ShortcutsHelp::ShortcutsHelp(const std::vector<Shortcut>& table, QWidget* parent)
    : QDialog(parent) {
  setObjectName(QStringLiteral("ShortcutsHelp"));
  setWindowTitle(tr("Keyboard shortcuts"));
  list_ = new QTableWidget(int(table.size()), 2, this);
  list_->setObjectName(QStringLiteral("shortcutList"));
  list_->setHorizontalHeaderLabels({tr("Key"), tr("Action")});
  list_->verticalHeader()->hide();
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setFocusPolicy(Qt::NoFocus);
  for (int row = 0; row < int(table.size()); ++row) {
    list_->setItem(row, 0, new QTableWidgetItem(shortcutText(table[size_t(row)].keys)));
    list_->setItem(row, 1, new QTableWidgetItem(table[size_t(row)].description));
  }
  list_->resizeColumnsToContents();
  list_->horizontalHeader()->setStretchLastSection(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(buttons);
  const int height = list_->horizontalHeader()->height() + list_->verticalHeader()->length() +
                     2 * list_->frameWidth() + 60;
  resize(480, height);
}

}  // namespace tovik
