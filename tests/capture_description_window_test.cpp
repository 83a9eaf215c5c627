// A capture recorded with the device packets under a virtual X display: opening it preselects
// the recorded sensor in the sensor window and sets the modes; played, its revolutions are placed
// with its own vertical angles (a mistaken channel is reported as live data's is); --play's path
// starts it without asking. A capture without device packets asks as before.
#include <QVTKOpenGLNativeWidget.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSurfaceFormat>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <fstream>
#include <memory>
#include <string>

#include "acquisition/ReadLiveOffData.h"
#include "acquisition/SelectLidar.h"
#include "acquisition/SetLidarModes.h"
#include "acquisition/csv_writer.h"
#include "acquisition/geometry.h"
#include "app/manwindow.h"
#include "tools/sim/sim_runner.h"

namespace {

// Three simulated seconds of the simulator's traffic, with or without its device packets.
bool writeSimCapture(const QString& path, const tovik::sim::SimConfig& config, bool devicePackets) {
  tovik::sim::RunOptions o;
  o.sim = config;
  o.durationS = 3;
  o.withDevicePackets = devicePackets;
  o.quiet = true;
  std::ofstream out(path.toStdString(), std::ios::binary);
  tovik::sim::RunStats stats;
  std::string error;
  return tovik::sim::writeCapture(o, out, &stats, &error);
}

tovik::AngleTable reportedAngles(const tovik::sim::SimConfig& config) {
  const tovik::sim::SimState state = tovik::sim::initialState(config);
  tovik::AngleTable t{};
  for (int ch = 0; ch < 16; ++ch) t[size_t(ch)] = float(state.verticalAngleDeg(ch));
  return t;
}

}  // namespace

class CaptureDescriptionWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<manwindow> w_;
  QTemporaryDir dir_;

  QStringList selectedRows() const {
    QStringList rows;
    for (const QListWidgetItem* item :
         w_->selectLidar_->findChild<QListWidget*>(QStringLiteral("listWidget"))->selectedItems())
      rows << item->text();
    return rows;
  }
  bool waitForRevolutions(uint64_t n) {
    return QTest::qWaitFor([&] { return w_->revolutionsPassed_ >= n; }, 10000);
  }

 private slots:
  // NOLINTBEGIN(readability-identifier-naming): QtTest's fixed slot names.
  void init() {
    QVERIFY(dir_.isValid());
    tovik::setDeviceVerticalAngles(tovik::AngleTable{});  // no live device has reported
    w_ = std::make_unique<manwindow>();
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() { w_.reset(); }
  // NOLINTEND(readability-identifier-naming)

  void describedCapturePreselectsAndPlaysWithItsOwnAngles() {
    tovik::sim::SimConfig config;
    config.dualReturn = true;
    config.degreeMode = 1;
    config.accuaryMode = 1;
    config.seed = 3;
    const QString path = dir_.filePath(QStringLiteral("dual.pcap"));
    QVERIFY(writeSimCapture(path, config, true));
    QVERIFY(w_->openCapture(path));

    QCOMPARE(w_->selectLidar_->preselected(), QStringLiteral("Tovik16-2"));
    QCOMPARE(selectedRows(), QStringList{QStringLiteral("Tovik16-2")});
    const auto* note = w_->selectLidar_->findChild<QLabel*>(QStringLiteral("label_recordedAs"));
    QCOMPARE(note->text(), QStringLiteral("Recorded by the device as Tovik16-2"));
    QCOMPARE(w_->findChild<QComboBox*>(QStringLiteral("comboBox_degree"))->currentIndex(), 1);
    QCOMPARE(w_->accuaryMode_, 1);
    QCOMPARE(w_->setLidarModes_->sensorType, QStringLiteral("Tovik162"));
    QCOMPARE(w_->setLidarModes_->degree, 1);
    QCOMPARE(w_->setLidarModes_->resolution, 1);

    // Play shows the sensor window with the row chosen: one click on OK plays.
    QSignalSpy mistakes(w_.get(), &manwindow::sendAngleMistake);
    w_->findChild<QToolButton*>(QStringLiteral("toolButton_Play"))->click();
    QVERIFY(w_->selectLidar_->isVisible());
    QVERIFY(note->isVisible());
    w_->selectLidar_->findChild<QPushButton*>(QStringLiteral("pushButton_OK"))->click();
    QVERIFY(!w_->selectLidar_->isVisible());
    QVERIFY(w_->readLiveOffData_->isRunning());
    QCOMPARE(w_->readLiveOffData_->sensorType, QStringLiteral("Tovik16-2"));
    QVERIFY(waitForRevolutions(3));
    QCOMPARE(w_->passSettings().deviceAngles, reportedAngles(config));
    QCOMPARE(mistakes.count(), 0);

    // Paused, the CSV export writes the shown revolution at once, placed with the same angles.
    w_->findChild<QToolButton*>(QStringLiteral("toolButton_Play"))->click();
    QVERIFY(w_->paused_);
    const QString csv = dir_.filePath(QStringLiteral("stored.csv"));
    w_->csvFileNameProvider_ = [csv](const QString&) { return csv; };
    w_->receiveSaveDataOption(true, 1, 0.0f, 360.0f,
                              QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    std::string expected;
    tovik::csv::appendHeader(expected);
    tovik::csv::appendRevolution(expected, w_->lastScan_, 1,
                                 tovik::chooseVerticalAngles(1, reportedAngles(config)),
                                 w_->csvRowOptions());
    QFile written(csv);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), QByteArray::fromStdString(expected));
  }

  // --play: the recorded sensor is confirmed without the window; the mistaken channel of the
  // recording device is reported as a live device's would be.
  void mistakenChannelOfAPlayedCaptureIsReported() {
    tovik::sim::SimConfig config;
    config.angleErrorChannel = 9;
    config.angleErrorDeg = -2.0;
    const QString path = dir_.filePath(QStringLiteral("mistaken.pcap"));
    QVERIFY(writeSimCapture(path, config, true));
    QVERIFY(w_->openCapture(path));
    QSignalSpy mistakes(w_.get(), &manwindow::sendAngleMistake);
    w_->playLoadedCapture();
    QVERIFY(!w_->selectLidar_->isVisible());
    QVERIFY(w_->readLiveOffData_->isRunning());
    QCOMPARE(w_->readLiveOffData_->sensorType, QStringLiteral("Tovik16-1"));
    QVERIFY(waitForRevolutions(2));
    QVERIFY(mistakes.count() >= 1);
    QCOMPARE(mistakes.first().first().toInt(), 9);
  }

  void captureWithoutDevicePacketsAsksAsBefore() {
    const QString described = dir_.filePath(QStringLiteral("described.pcap"));
    const QString plain = dir_.filePath(QStringLiteral("plain.pcap"));
    QVERIFY(writeSimCapture(described, tovik::sim::SimConfig(), true));
    QVERIFY(writeSimCapture(plain, tovik::sim::SimConfig(), false));
    QVERIFY(w_->openCapture(described));
    QCOMPARE(selectedRows(), QStringList{QStringLiteral("Tovik16-1")});
    QVERIFY(w_->openCapture(plain));
    QVERIFY(w_->selectLidar_->preselected().isEmpty());
    QVERIFY(selectedRows().isEmpty());
    w_->playLoadedCapture();
    QVERIFY(w_->selectLidar_->isVisible());
    QVERIFY(!w_->selectLidar_->findChild<QLabel*>(QStringLiteral("label_recordedAs"))->isVisible());
    QVERIFY(!w_->readLiveOffData_->isRunning());
  }
};

int main(int argc, char** argv) {
  QSurfaceFormat format = QVTKOpenGLNativeWidget::defaultFormat();
  format.setSamples(0);
  QSurfaceFormat::setDefaultFormat(format);
  QApplication app(argc, argv);
  CaptureDescriptionWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "capture_description_window_test.moc"
