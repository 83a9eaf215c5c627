// The save-data options window of a CSV export. This version is an empty window; the choice of
// frames, angle range and channels is not in it yet.
#pragma once

#include <QList>
#include <QWidget>

class SaveDataOptions : public QWidget {
  Q_OBJECT

 public:
  explicit SaveDataOptions(QWidget* parent = nullptr);

 signals:
  // isSave: confirmed with OK; freams: revolutions to write; angleMin..angleMax: azimuth range in
  // degrees, bounds included; lines: channel indices 0..15.
  void sendOptions(bool isSave, int freams, float angleMin, float angleMax, QList<int> lines);
};
