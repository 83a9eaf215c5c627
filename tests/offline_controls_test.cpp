// The Offline tab of the main window under a virtual X display: loading captures written with
// CaptureWriter, the failures that must keep the loaded capture, and the playback buttons'
// state machine driving the real playback engine.
#include <QVTKOpenGLNativeWidget.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QSurfaceFormat>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <cstring>
#include <memory>
#include <string>

#include "acquisition/GetlidarData.h"
#include "acquisition/GetlidarData_1.h"
#include "acquisition/ReadLiveOffData.h"
#include "acquisition/SelectLidar.h"
#include "acquisition/revolution_assembler.h"
#include "app/manwindow.h"
#include "app/shortcuts_help.h"
#include "capture_fixtures.h"
#include "device/GetSet.h"
#include "loopback_sim.h"

namespace fx = tovik::capture::fixtures;

namespace {

QString dataPath(const char* name) {
  return QString::fromLatin1(TOVIK_TEST_DATA_DIR) + QLatin1Char('/') + QLatin1String(name);
}

// A capture of points point packets with azimuth steps of 4.30 degrees (84 packets per
// revolution) and a device packet every 25 of them; returns what a reader must find in it.
fx::Expected writeCapture(const QString& path, int points) {
  fx::FixtureBuilder b(tovik::capture::WriterOptions{});
  for (int i = 0; i < points; ++i) {
    b.point(uint32_t(i), uint16_t(i * 430 % 36000));
    if (i % 25 == 24) b.device(uint32_t(i));
  }
  fx::writeFile(path.toStdString(), b.bytes());
  return b.expected();
}

bool hasIcon(const QAbstractButton* button, const char* file) {
  return button->icon().pixmap(24).toImage() ==
         QIcon(QString::fromLatin1(file)).pixmap(24).toImage();
}

}  // namespace

class OfflineControlsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<manwindow> w_;
  QString lastBoxTitle_, lastBoxText_;

  QToolButton* button(const char* name) const {
    return w_->findChild<QToolButton*>(QString::fromLatin1(name));
  }
  // Answers the next modal message box with its default button, keeping its title and text.
  void answerNextMessageBox() {
    lastBoxTitle_.clear();
    lastBoxText_.clear();
    auto* timer = new QTimer(this);
    timer->setInterval(20);
    connect(timer, &QTimer::timeout, this, [this, timer] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      lastBoxTitle_ = box->windowTitle();
      lastBoxText_ = box->text();
      if (box->defaultButton() != nullptr)
        box->defaultButton()->click();
      else
        box->accept();
      timer->stop();
      timer->deleteLater();
    });
    timer->start();
  }
  // Loads a capture and presses Play, choosing the single-return sensor in SelectLidar.
  void loadAndPlay(const QString& path) {
    QVERIFY(w_->openCapture(path));
    button("toolButton_Play")->click();
    QVERIFY(w_->selectLidar_->isVisible());
    emit w_->selectLidar_->sendData(QStringLiteral("Tovik16-1"));
    QVERIFY(w_->readLiveOffData_->isRunning());
  }
  void pressPause() {
    QVERIFY(!w_->paused_);
    button("toolButton_Play")->click();
    QVERIFY(w_->paused_);
    // Frames queued before the pause are still counted; after that the counter stands still.
    QTest::qWait(250);
  }

 private slots:
  // NOLINTBEGIN(readability-identifier-naming): QtTest's fixed slot names.
  void init() {
    playDirection = 1;
    playSpeed = 0;
    stepPending = 0;
    w_ = std::make_unique<manwindow>();
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() {
    w_.reset();  // must stop a running or paused engine without hanging
    playDirection = 1;
    playSpeed = 0;
    stepPending = 0;
  }

  // 3000 packets at 84 per revolution: 35 full revolutions and a remainder, 36 frames.
  void loadingIndexesThePointPacketsInPlace() {
    const QString path = dataPath("offline_3000.pcap");
    const fx::Expected expected = writeCapture(path, 3000);
    QVERIFY(!button("toolButton_Play")->isEnabled());
    QVERIFY(w_->openCapture(path));

    QCOMPARE(w_->packetCount_, 3000u);
    QCOMPARE(w_->capture_->index().pointTimesNs, expected.pointTimes);
    QCOMPARE(w_->packetsPerFrame_, 84);
    QCOMPARE(w_->packetFrameCount_, 36);
    QCOMPARE(w_->findChild<QSpinBox*>(QStringLiteral("Spbox_Frame"))->maximum(), 36);
    QCOMPARE(w_->findChild<QSlider*>(QStringLiteral("Slider_Frame"))->maximum(), 36);
    QVERIFY(w_->findChild<QSlider*>(QStringLiteral("Slider_Frame"))->isEnabled());
    for (const char* name : {"toolButton_Play", "toolButton_GoToEnd", "toolButton_GoToStart",
                             "toolButton_SeekBackward", "toolButton_SeekForward"})
      QVERIFY2(button(name)->isEnabled(), name);
    QVERIFY(w_->paused_ && !w_->playing_);
    QCOMPARE(w_->playCount_, 1);
    QVERIFY(hasIcon(button("toolButton_Play"), "./Resources/images/Play.png"));

    // The table points into the mapped file: no payload was copied.
    QCOMPARE(w_->packetList_, w_->capture_->index().pointPackets.data());
    const uint8_t* begin = w_->capture_->pointPacket(0);
    for (uint32_t i : {0u, 1234u, 2999u}) {
      QVERIFY(std::memcmp(w_->packetList_[i], expected.points[i].data(), tovik::kPacketSize) == 0);
      QVERIFY(w_->packetList_[i] >= begin && w_->packetList_[i] < begin + w_->capture_->fileSize());
    }
  }

  void openFailuresKeepTheLoadedCapture_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");  // written to file unless empty
    QTest::addColumn<QString>("title");
    QTest::newRow("missing") << dataPath("no_such_capture.pcap") << QByteArray() << "error";
    QTest::newRow("not a capture")
        << dataPath("not_a_capture.pcap") << QByteArray("this is text, not a capture\n") << "error";
    fx::FixtureBuilder devicesOnly(tovik::capture::WriterOptions{});
    for (uint32_t i = 0; i < 5; ++i) devicesOnly.device(i);
    QTest::newRow("no point data") << dataPath("devices_only.pcap")
                                   << QByteArray::fromStdString(devicesOnly.bytes()) << "Tips";
  }
  void openFailuresKeepTheLoadedCapture() {
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, title);
    if (!bytes.isEmpty()) fx::writeFile(file.toStdString(), bytes.toStdString());
    const QString good = dataPath("offline_500.pcap");
    writeCapture(good, 500);
    QVERIFY(w_->openCapture(good));
    const auto* table = w_->packetList_;
    const int frames = w_->packetFrameCount_;

    answerNextMessageBox();
    QVERIFY(!w_->openCapture(file));
    QCOMPARE(lastBoxTitle_, title);
    QVERIFY2(lastBoxText_.contains(file), qPrintable(lastBoxText_));
    if (title == QLatin1String("Tips"))
      QVERIFY(lastBoxText_.contains(QStringLiteral("holds no point data")));

    QCOMPARE(w_->packetList_, table);
    QCOMPARE(w_->packetCount_, 500u);
    QCOMPARE(w_->packetFrameCount_, frames);
    QVERIFY(button("toolButton_Play")->isEnabled());
    QVERIFY(!w_->readLiveOffData_->isRunning());
    // The old capture still plays.
    loadAndPlay(good);
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 1, 5000);
  }

  void failureBeforeAnyLoadLeavesTheControlsOff() {
    answerNextMessageBox();
    QVERIFY(!w_->openCapture(dataPath("no_such_capture.pcap")));
    QVERIFY(!button("toolButton_Play")->isEnabled());
    QVERIFY(w_->capture_ == nullptr);
  }

  void pauseStepAndResume() {
    const QString path = dataPath("offline_3000.pcap");
    writeCapture(path, 3000);
    loadAndPlay(path);
    QVERIFY(!button("toolButton_Open")->isEnabled());
    QVERIFY(!button("toolButton_GoToEnd")->isEnabled());
    QVERIFY(hasIcon(button("toolButton_Play"), "./Resources/images/Pause.png"));
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 3, 5000);

    pressPause();
    QVERIFY(button("toolButton_GoToEnd")->isEnabled());
    QVERIFY(hasIcon(button("toolButton_Play"), "./Resources/images/Play.png"));
    const int paused = w_->frameIndex_;
    QTest::qWait(400);
    QCOMPARE(w_->frameIndex_, paused);
    QVERIFY(w_->readLiveOffData_->isRunning());

    // One revolution forward, then the engine waits again.
    button("toolButton_GoToEnd")->click();
    QTRY_COMPARE_WITH_TIMEOUT(w_->frameIndex_, paused + 1, 3000);
    QTest::qWait(400);
    QCOMPARE(w_->frameIndex_, paused + 1);
    QCOMPARE(stepPending.load(), 0);
    QVERIFY(w_->readLiveOffData_->playGate.isClosed());

    // One revolution backward.
    button("toolButton_GoToStart")->click();
    QCOMPARE(playDirection.load(), -1);
    QVERIFY(w_->stepBackward_ && !w_->stepForward_);
    QTRY_COMPARE_WITH_TIMEOUT(w_->frameIndex_, paused, 3000);
    QTest::qWait(400);
    QCOMPARE(w_->frameIndex_, paused);

    // Resume forward from there.
    button("toolButton_Play")->click();
    QCOMPARE(playDirection.load(), 1);
    QVERIFY(w_->stepForward_ && !w_->stepBackward_);
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= paused + 2, 5000);
  }

  void stepForwardAtFrameZeroDoesNothing() {
    const QString path = dataPath("offline_500.pcap");
    writeCapture(path, 500);
    QVERIFY(w_->openCapture(path));
    stepPending = 1;  // a step left over is withdrawn
    button("toolButton_GoToEnd")->click();
    QCOMPARE(stepPending.load(), 0);
    QCOMPARE(playDirection.load(), 1);
    QCOMPARE(w_->frameIndex_, 0);
    QVERIFY(!w_->readLiveOffData_->isRunning());
    button("toolButton_GoToStart")->click();
    QCOMPARE(playDirection.load(), 1);
    QVERIFY(!w_->stepBackward_);
  }

  void seekButtonsCycleTheSpeed() {
    const QString path = dataPath("offline_3000.pcap");
    writeCapture(path, 3000);
    loadAndPlay(path);
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 3, 5000);

    struct Expect {
      int speed;
      const char* icon;
    };
    QToolButton* forward = button("toolButton_SeekForward");
    // The first press after Play (or after SeekBackward) gives normal speed, then the cycle.
    const Expect forwardCycle[] = {{0, "./Resources/images/Seekforward.png"},
                                   {1, "./Resources/images/Seekforward_2x.png"},
                                   {2, "./Resources/images/Seekforward_3x.png"},
                                   {3, "./Resources/images/Seekforward_0.5x.png"},
                                   {4, "./Resources/images/Seekforward_0.25x.png"},
                                   {0, "./Resources/images/Seekforward.png"},
                                   {1, "./Resources/images/Seekforward_2x.png"}};
    for (const Expect& e : forwardCycle) {
      forward->click();
      QCOMPARE(playSpeed.load(), e.speed);
      QVERIFY2(hasIcon(forward, e.icon), e.icon);
      QCOMPARE(playDirection.load(), 1);
    }

    QToolButton* backward = button("toolButton_SeekBackward");
    const Expect backwardCycle[] = {{0, "./Resources/images/Seekbackward.png"},
                                    {1, "./Resources/images/Seekbackward_2x.png"},
                                    {2, "./Resources/images/Seekbackward_3x.png"},
                                    {3, "./Resources/images/Seekbackward_0.5x.png"},
                                    {4, "./Resources/images/Seekbackward_0.25x.png"},
                                    {0, "./Resources/images/Seekbackward.png"}};
    for (const Expect& e : backwardCycle) {
      backward->click();
      QCOMPARE(playSpeed.load(), e.speed);
      QVERIFY2(hasIcon(backward, e.icon), e.icon);
      QCOMPARE(playDirection.load(), -1);
      QVERIFY(w_->stepBackward_ && !w_->stepForward_);
    }
    QVERIFY(hasIcon(forward, "./Resources/images/Seekforward.png"));

    // Back to forward: normal speed first.
    forward->click();
    QCOMPARE(playSpeed.load(), 0);
    QCOMPARE(playDirection.load(), 1);
    QVERIFY(hasIcon(backward, "./Resources/images/Seekbackward.png"));
    forward->click();
    QCOMPARE(playSpeed.load(), 1);

    // Play (pause) puts both buttons back to normal speed.
    pressPause();
    QCOMPARE(playSpeed.load(), 0);
    QVERIFY(hasIcon(forward, "./Resources/images/Seekforward.png"));
    QCOMPARE(w_->forwardSpeedStep_, 1);
  }

  void playToTheEndThenPlayAgain() {
    const QString path = dataPath("offline_300.pcap");
    writeCapture(path, 300);  // 3 revolution wraps
    QSignalSpy ends(w_->readLiveOffData_.get(), &ReadLiveOffData::SendBool);
    loadAndPlay(path);
    QTRY_VERIFY_WITH_TIMEOUT(w_->playbackFinished_, 5000);
    QCOMPARE(ends.count(), 1);
    QVERIFY(button("toolButton_Open")->isEnabled());
    QCOMPARE(w_->frameIndex_, 0);
    QCOMPARE(w_->findChild<QSpinBox*>(QStringLiteral("Spbox_Frame"))->value(), 0);
    QVERIFY(w_->paused_ && !w_->playing_);
    QVERIFY(button("toolButton_GoToEnd")->isEnabled());
    // Steps do nothing at the end.
    button("toolButton_GoToEnd")->click();
    QCOMPARE(stepPending.load(), 0);

    // Play starts the engine again from the first packet, without asking for the sensor.
    QTRY_VERIFY_WITH_TIMEOUT(w_->readLiveOffData_->isFinished(), 2000);
    w_->selectLidar_->hide();
    button("toolButton_Play")->click();
    QVERIFY(!w_->selectLidar_->isVisible());
    QVERIFY(!w_->playbackFinished_);
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 2, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(w_->playbackFinished_, 5000);
    QCOMPARE(ends.count(), 2);
  }

  void closingSelectLidarWithoutChoiceAsksAgain() {
    const QString path = dataPath("offline_300.pcap");
    writeCapture(path, 300);
    QVERIFY(w_->openCapture(path));
    button("toolButton_Play")->click();
    QVERIFY(w_->selectLidar_->isVisible());
    w_->selectLidar_->hide();
    button("toolButton_Play")->click();  // pause
    button("toolButton_Play")->click();  // play: still no sensor type
    QVERIFY(w_->selectLidar_->isVisible());
    emit w_->selectLidar_->sendData(QStringLiteral("Tovik16-2"));
    QCOMPARE(w_->readLiveOffData_->sensorType, QStringLiteral("Tovik16-2"));
    QTRY_VERIFY_WITH_TIMEOUT(w_->playbackFinished_, 5000);
  }

  // Opening another file stops the engine, frees the old capture and starts over.
  void openAfterPlaySwapsTheCapture() {
    const QString first = dataPath("offline_3000.pcap");
    writeCapture(first, 3000);
    loadAndPlay(first);
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 2, 5000);
    pressPause();
    const QString second = dataPath("offline_500.pcap");
    writeCapture(second, 500);
    QVERIFY(w_->openCapture(second));
    QVERIFY(!w_->readLiveOffData_->isRunning());
    QCOMPARE(w_->packetCount_, 500u);
    QCOMPARE(w_->readLiveOffData_->packetCount(), 500u);
    QCOMPARE(w_->playCount_, 1);
    QCOMPARE(w_->frameIndex_, 0);
    QCOMPARE(w_->packetFrameCount_, 6);
    loadAndPlay(second);
    QTRY_VERIFY_WITH_TIMEOUT(w_->playbackFinished_, 5000);
  }

  // #9: a pause pressed while the sensor window was still open was lost: the engine started
  // playing with the button showing Play. It now starts held until Play is pressed.
  void pauseWhileTheSensorWindowIsOpenIsKept() {
    const QString path = dataPath("offline_3000.pcap");
    writeCapture(path, 3000);
    QVERIFY(w_->openCapture(path));
    button("toolButton_Play")->click();
    QVERIFY(w_->selectLidar_->isVisible());
    button("toolButton_Play")->click();  // pause, the sensor window still open
    QVERIFY(w_->paused_);
    emit w_->selectLidar_->sendData(QStringLiteral("Tovik16-1"));
    QVERIFY(w_->readLiveOffData_->isRunning());
    QTest::qWait(400);
    QCOMPARE(w_->frameIndex_, 0);
    QVERIFY(hasIcon(button("toolButton_Play"), ":/image/Resources/images/Play.png"));
    button("toolButton_Play")->click();
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 2, 5000);
  }

  // #9: the mode window wrote the engine's sensor type while a run could be reading it. A
  // running engine keeps its type; the next start takes the new one.
  void modeWindowWaitsForTheEngine() {
    // A receiver the mode window starts must not bind the device's port.
    w_->findChild<QLineEdit*>(QStringLiteral("lineEdit_portNumber"))
        ->setText(QString::number(tovik::test::freeUdpPort()));
    const QString path = dataPath("offline_300.pcap");
    writeCapture(path, 300);
    loadAndPlay(path);  // single return
    w_->receiveConfig(QStringLiteral("Tovik162"), 0, 0);
    QCOMPARE(w_->readLiveOffData_->sensorType, QStringLiteral("Tovik16-1"));
    QTRY_VERIFY_WITH_TIMEOUT(w_->playbackFinished_, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(w_->readLiveOffData_->isFinished(), 2000);
    button("toolButton_Play")->click();
    QCOMPARE(w_->readLiveOffData_->sensorType, QStringLiteral("Tovik16-2"));
  }

  // #9: Play fed played and live revolutions into one view in turn. Play stops the live
  // receiver (the device receiver goes on), playback shows its own read-out, and the end of the
  // file starts the live receiver again.
  void playStopsLiveReceptionAndTheEndResumesIt() {
    const quint16 dataPort = tovik::test::freeUdpPort(), devicePort = tovik::test::freeUdpPort();
    w_->findChild<QLineEdit*>(QStringLiteral("lineEdit_portNumber"))
        ->setText(QString::number(dataPort));
    w_->findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText(QString::number(devicePort));
    button("toolButton_Lidar")->click();
    tovik::test::SimulatedLidar lidar(tovik::test::loopbackSimulator(dataPort, devicePort));
    std::string error;
    QVERIFY2(lidar.start(&error), error.c_str());
    const auto liveRunning = [this] {
      return w_->getlidarData_->isRunning() || w_->getlidarData1_->isRunning();
    };
    QTRY_VERIFY_WITH_TIMEOUT(liveRunning(), 4000);

    const QString path = dataPath("offline_3000.pcap");
    writeCapture(path, 3000);
    QVERIFY(w_->openCapture(path));
    button("toolButton_Play")->click();  // the sensor window opens
    QVERIFY(!liveRunning());
    emit w_->selectLidar_->sendData(QStringLiteral("Tovik16-1"));
    QVERIFY(!liveRunning());
    QVERIFY(w_->getSet_->isRunning());
    QRegularExpression readout(
        QStringLiteral("^Playback: \\d+\\.\\d rev/s   [1-9]\\d* packets played"));
    // The read-out is refreshed once a second; the second sample has a rate.
    QTRY_VERIFY2_WITH_TIMEOUT(readout.match(w_->healthLabel_->text()).hasMatch(),
                              qPrintable(w_->healthLabel_->text()), 3500);
    QVERIFY(!liveRunning());

    QTRY_VERIFY_WITH_TIMEOUT(w_->playbackFinished_, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(liveRunning(), 2000);
    lidar.stop();
  }

  // #9: started from another folder the viewer lost its Play, Pause and speed icons, which
  // were read relative to the working directory. They are compiled in.
  void iconsDoNotDependOnTheWorkingDirectory() {
    const QString path = dataPath("offline_300.pcap");
    writeCapture(path, 300);
    QTemporaryDir elsewhere;
    struct BackHome {
      QString dir = QDir::currentPath();
      ~BackHome() { QDir::setCurrent(dir); }
    } backHome;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    QVERIFY(w_->openCapture(path));
    QToolButton* play = button("toolButton_Play");
    QToolButton* forward = button("toolButton_SeekForward");
    QVERIFY(!play->icon().pixmap(24).isNull());
    play->click();  // the sensor window opens; the button shows Pause
    w_->selectLidar_->hide();
    QVERIFY(!play->icon().pixmap(24).isNull());
    for (int i = 0; i < 5; ++i) {
      forward->click();  // 1x, 2x, 3x, 0.5x, 0.25x
      QVERIFY(!forward->icon().pixmap(24).isNull());
    }
    QVERIFY(hasIcon(forward, ":/image/Resources/images/Seekforward_0.25x.png"));
  }

  // The frame box seeks; the steps then show exactly the previous and the next revolution of
  // forward play (a step back used to show a partial revolution, later steps the one two ahead).
  void seekThenStepShowsExactRevolutions() {
    const QString path = dataPath("offline_3000.pcap");
    const fx::Expected expected = writeCapture(path, 3000);
    tovik::OfflineAssembler reference(tovik::OfflineAssembler::Layout::Single);
    std::vector<LidarData> revolutions;
    for (const auto& p : expected.points) reference.addPacket(p.data(), +1, revolutions);
    loadAndPlay(path);
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 2, 5000);
    QCOMPARE(w_->findChild<QSpinBox*>(QStringLiteral("Spbox_Frame"))->maximum(),
             int(revolutions.size()));
    pressPause();
    const auto shows = [&](int counter) {
      return w_->frameIndex_ == counter &&
             w_->lastScan_.distance == revolutions[size_t(counter - 1)].distance &&
             w_->lastScan_.blockAzimuth == revolutions[size_t(counter - 1)].blockAzimuth;
    };
    w_->findChild<QSpinBox*>(QStringLiteral("Spbox_Frame"))->setValue(20);
    QTRY_VERIFY_WITH_TIMEOUT(shows(20), 3000);
    button("toolButton_GoToStart")->click();
    QTRY_VERIFY_WITH_TIMEOUT(shows(19), 3000);
    button("toolButton_GoToEnd")->click();
    QTRY_VERIFY_WITH_TIMEOUT(shows(20), 3000);
    button("toolButton_GoToEnd")->click();
    QTRY_VERIFY_WITH_TIMEOUT(shows(21), 3000);
    button("toolButton_GoToStart")->click();
    QTRY_VERIFY_WITH_TIMEOUT(shows(20), 3000);
    QTest::qWait(300);
    QVERIFY(shows(20));  // paused: nothing follows
    // Play goes on forward with the next whole revolution first; the slider seeks too.
    QSignalSpy shown(w_->readLiveOffData_.get(), &ReadLiveOffData::SendRevolution);
    button("toolButton_Play")->click();
    QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 2, 3000);
    QCOMPARE(shown.at(0).at(0).toInt(), 20);  // counter 21
    QCOMPARE(shown.at(1).at(0).toInt(), 21);  // the counter moving is no seek
    pressPause();
    w_->findChild<QSlider*>(QStringLiteral("Slider_Frame"))->setValue(5);
    QTRY_VERIFY_WITH_TIMEOUT(shows(5), 3000);
  }

  // Close while playing and while paused: the engine ends, Open comes back, the tab is empty.
  void closeWhilePlayingOrPaused() {
    const QString path = dataPath("offline_3000.pcap");
    writeCapture(path, 3000);
    for (const bool pauseFirst : {false, true}) {
      loadAndPlay(path);
      QVERIFY(!button("toolButton_Open")->isEnabled());
      QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 1, 5000);
      if (pauseFirst) pressPause();
      button("toolButton_Close")->click();
      QVERIFY(!w_->readLiveOffData_->isRunning());
      QVERIFY(button("toolButton_Open")->isEnabled());
      QVERIFY(!button("toolButton_Play")->isEnabled());
      QVERIFY(!button("toolButton_Close")->isEnabled());
      QVERIFY(w_->capture_ == nullptr);
      QCOMPARE(w_->findChild<QSpinBox*>(QStringLiteral("Spbox_Frame"))->value(), 0);
    }
  }

  // Keys pressed with the focus in the 3D view drive the buttons' slots, and the Help window
  // lists exactly the keys bound.
  void shortcutsDriveTheButtonsAndAreListed() {
    const QString path = dataPath("offline_3000.pcap");
    writeCapture(path, 3000);
    QVERIFY(w_->openCapture(path));
    QWidget* view = w_->findChild<QWidget*>(QStringLiteral("screen"));
    // Window shortcuts need the window active (the virtual display has no window manager).
    w_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    view->setFocus();
    QCOMPARE(QApplication::focusWidget(), view);
    QTest::keyClick(view, Qt::Key_Space);  // Play
    QVERIFY(w_->selectLidar_->isVisible());
    emit w_->selectLidar_->sendData(QStringLiteral("Tovik16-1"));
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 2, 5000);
    QTest::keyClick(view, Qt::Key_BracketRight);  // SeekForward: normal speed first, then 2x
    QTest::keyClick(view, Qt::Key_BracketRight);
    QCOMPARE(playSpeed.load(), 1);
    QVERIFY(hasIcon(button("toolButton_SeekForward"), "./Resources/images/Seekforward_2x.png"));
    QTest::keyClick(view, Qt::Key_Space);  // pause
    QVERIFY(w_->paused_);
    QTest::keyClick(view, Qt::Key_BracketLeft);  // SeekBackward
    QCOMPARE(playDirection.load(), -1);
    QTest::qWait(250);

    QTest::keyClick(view, Qt::Key_Home);
    QTRY_COMPARE_WITH_TIMEOUT(w_->frameIndex_, 1, 3000);
    QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
    QTRY_COMPARE_WITH_TIMEOUT(w_->frameIndex_, 11, 3000);
    QTest::keyClick(view, Qt::Key_Left);  // GoToStart
    QTRY_COMPARE_WITH_TIMEOUT(w_->frameIndex_, 10, 3000);
    QTest::keyClick(view, Qt::Key_End);
    QTRY_COMPARE_WITH_TIMEOUT(w_->frameIndex_, int(w_->seekIndex_->size()), 3000);

    button("toolButton_Shortcuts")->click();
    auto* help = w_->findChild<tovik::ShortcutsHelp*>();
    QVERIFY(help != nullptr && help->isVisible());
    QStringList listed, bound;
    for (int row = 0; row < help->list()->rowCount(); ++row)
      listed << help->list()->item(row, 0)->text();
    for (const QShortcut* s : w_->findChildren<QShortcut*>())
      bound << s->key().toString(QKeySequence::NativeText);
    listed.sort();
    bound.sort();
    QCOMPARE(listed, bound);
    QCOMPARE(bound.size(), 13);
  }

  void closingTheWindowWhilePausedDoesNotHang() {
    const QString path = dataPath("offline_3000.pcap");
    writeCapture(path, 3000);
    loadAndPlay(path);
    QTRY_VERIFY_WITH_TIMEOUT(w_->frameIndex_ >= 1, 5000);
    pressPause();
    QVERIFY(w_->readLiveOffData_->isRunning());
    QElapsedTimer t;
    t.start();
    w_.reset();
    QVERIFY(t.elapsed() < 2000);
  }
  // NOLINTEND(readability-identifier-naming)
};

int main(int argc, char* argv[]) {
  QSurfaceFormat format = QVTKOpenGLNativeWidget::defaultFormat();
  format.setSamples(0);
  QSurfaceFormat::setDefaultFormat(format);
  QApplication app(argc, argv);
  OfflineControlsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "offline_controls_test.moc"
