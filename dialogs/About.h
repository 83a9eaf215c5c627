// The About window: the software version line on its first tab, and on its second the identity
// and board versions of the connected lidar as the network settings window publishes them.
#pragma once

#include <QStringList>
#include <QWidget>
#include <memory>

namespace Ui {
class About;
}

class About : public QWidget {
  Q_OBJECT

 public:
  explicit About(QWidget* parent = nullptr);
  ~About() override;

  // The last list shown (empty before the first).
  const QStringList& versions() const { return versions_; }

 public slots:
  // Elements 0 to 7 (FPGA 2nd, FPGA 3rd, Lidar ID, hardware 2nd, hardware 3rd, emission,
  // receive, structure) are shown as they are, replacing what was shown. A list of fewer than
  // eight strings is ignored: the sender always supplies all eight.
  void sSetVersion(QStringList Versions);

 private:
  std::unique_ptr<Ui::About> ui_;
  QStringList versions_;
};
