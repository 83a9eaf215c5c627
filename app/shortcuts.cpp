#include "app/shortcuts.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QShortcut>
#include <QWidget>

namespace tovik {

namespace {

QString tr(const char* text) { return QCoreApplication::translate("Shortcuts", text); }

std::function<void()> click(QAbstractButton* button) {
  return [button] {
    if (button != nullptr) button->click();  // does nothing while the button is disabled
  };
}

std::function<void()> call(const std::function<void()>& f) {
  return [f] {
    if (f) f();
  };
}

std::function<void()> seekBy(const ShortcutTargets& t, int revolutions) {
  return [f = t.seekBy, revolutions] {
    if (f) f(revolutions);
  };
}

}  // namespace

std::vector<Shortcut> viewerShortcuts(const ShortcutTargets& t) {
  constexpr int kLongSeek = 10;  // revolutions
  return {
      {QKeySequence(Qt::Key_Space), tr("Play or pause the capture"), click(t.play)},
      {QKeySequence(Qt::Key_Left), tr("Show the previous revolution (paused)"),
       click(t.stepBackward)},
      {QKeySequence(Qt::Key_Right), tr("Show the next revolution (paused)"), click(t.stepForward)},
      {QKeySequence(int(Qt::SHIFT) | int(Qt::Key_Left)), tr("Jump 10 revolutions back"),
       seekBy(t, -kLongSeek)},
      {QKeySequence(int(Qt::SHIFT) | int(Qt::Key_Right)), tr("Jump 10 revolutions forward"),
       seekBy(t, kLongSeek)},
      {QKeySequence(Qt::Key_Home), tr("Jump to the first revolution"), call(t.seekFirst)},
      {QKeySequence(Qt::Key_End), tr("Jump to the last revolution"), call(t.seekLast)},
      {QKeySequence(Qt::Key_BracketLeft), tr("Play backward; again for the next speed"),
       click(t.seekBackward)},
      {QKeySequence(Qt::Key_BracketRight), tr("Play forward; again for the next speed"),
       click(t.seekForward)},
      {QKeySequence(int(Qt::CTRL) | int(Qt::Key_O)), tr("Open a capture file"), click(t.open)},
      {QKeySequence(int(Qt::CTRL) | int(Qt::Key_R)), tr("Start or stop recording"),
       click(t.record)},
      {QKeySequence(int(Qt::CTRL) | int(Qt::Key_E)), tr("Export revolutions as CSV"),
       click(t.exportCsv)},
      {QKeySequence(Qt::Key_F11), tr("Full screen on or off"), call(t.toggleFullScreen)},
  };
}

std::vector<QShortcut*> bindShortcuts(QWidget* window, const std::vector<Shortcut>& table) {
  std::vector<QShortcut*> bound;
  for (const Shortcut& s : table) {
    auto* shortcut = new QShortcut(s.keys, window);
    shortcut->setContext(Qt::WindowShortcut);
    shortcut->setAutoRepeat(true);
    QObject::connect(shortcut, &QShortcut::activated, window, s.action);
    bound.push_back(shortcut);
  }
  return bound;
}

QString shortcutText(const QKeySequence& keys) { return keys.toString(QKeySequence::NativeText); }

}  // namespace tovik
