// The About window. This version lists the connected lidar's versions as they arrive; the
// software version tab is not in it yet.
#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;

class About : public QWidget {
  Q_OBJECT

 public:
  explicit About(QWidget* parent = nullptr);

  const QStringList& versions() const { return versions_; }

 public slots:
  // Elements 0 to 7 are shown as they are; a shorter list is ignored.
  void sSetVersion(QStringList Versions);

 private:
  QLabel* label_;
  QStringList versions_;
};
