// The viewer's keyboard shortcuts: one table of key, description and action, bound on the main
// window and listed as it is by the Help window (ShortcutsHelp).
//
// Every shortcut is a window shortcut: it works wherever the focus is in the main window, the 3D
// view included, and a focused field that takes the key itself (arrows and Home/End in the frame
// box) keeps it. None uses a key of the 3D view's own (x, r, f, j, q, e, +, -, the digits...),
// which stay with the view.
#pragma once

#include <QKeySequence>
#include <QString>
#include <functional>
#include <vector>

class QAbstractButton;
class QShortcut;
class QWidget;

namespace tovik {

struct Shortcut {
  QKeySequence keys;
  QString description;
  std::function<void()> action;
};

// What the shortcuts drive. A button is clicked as the operator would click it (so a disabled
// one does nothing); the functions may be empty.
struct ShortcutTargets {
  QAbstractButton* play = nullptr;
  QAbstractButton* stepBackward = nullptr;
  QAbstractButton* stepForward = nullptr;
  QAbstractButton* seekBackward = nullptr;
  QAbstractButton* seekForward = nullptr;
  QAbstractButton* open = nullptr;
  QAbstractButton* record = nullptr;
  QAbstractButton* exportCsv = nullptr;
  std::function<void(int revolutions)> seekBy;  // relative to the revolution shown
  std::function<void()> seekFirst, seekLast;
  std::function<void()> toggleFullScreen;
};

std::vector<Shortcut> viewerShortcuts(const ShortcutTargets& targets);

// Binds every entry of table as a window shortcut of window; the QShortcut objects are children
// of window and are returned in table order.
std::vector<QShortcut*> bindShortcuts(QWidget* window, const std::vector<Shortcut>& table);

// The key as the Help window shows it ("Shift+Left", "Space").
QString shortcutText(const QKeySequence& keys);

}  // namespace tovik
