// The Help window that lists the keyboard shortcuts: key and description, one row per entry of
// the table that is bound (app/shortcuts.h).
#pragma once

#include <QDialog>
#include <vector>

#include "app/shortcuts.h"

class QTableWidget;

namespace tovik {

class ShortcutsHelp : public QDialog {
  Q_OBJECT

 public:
  ShortcutsHelp(const std::vector<Shortcut>& table, QWidget* parent = nullptr);
  // The list, for tests.
  QTableWidget* list() const { return list_; }

 private:
  QTableWidget* list_ = nullptr;
};

}  // namespace tovik
