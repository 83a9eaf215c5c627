// Engineering mode as the operator uses it: the Help tab's entry asks before switching on, shows
// the entries of the advanced settings, vertical angle and mode windows, and each window then
// works against the simulated lidar over loopback through its own buttons.
#include <QVTKOpenGLNativeWidget.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QSurfaceFormat>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <memory>

#include "acquisition/GetlidarData.h"
#include "acquisition/GetlidarData_1.h"
#include "acquisition/ReadLiveOffData.h"
#include "acquisition/SetLidarModes.h"
#include "app/manwindow.h"
#include "device/GetSet.h"
#include "dialogs/ACWPSettingWidget.h"
#include "dialogs/VerticalAngleSetting.h"
#include "dialogs/vertical_angle_packet.h"
#include "loopback_sim.h"

namespace {

// Answers every modal box as it appears, questions with `answer`, and keeps "title/text".
class BoxAnswerer : public QObject {
 public:
  QStringList boxes;
  QMessageBox::StandardButton answer = QMessageBox::Yes;
  BoxAnswerer() {
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      boxes << box->windowTitle() + "/" + box->text();
      QAbstractButton* b = box->button(answer);
      (b != nullptr ? b : box->button(QMessageBox::Ok))->click();
    });
    timer_.start(20);
  }

 private:
  QTimer timer_;
};

size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

class EngineeringModeTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<manwindow> w_;
  std::unique_ptr<tovik::test::SimulatedLidar> lidar_;

  template <typename T>
  T* child(QObject* parent, const char* name) const {
    T* c = parent->findChild<T*>(QString::fromLatin1(name));
    if (c == nullptr) qWarning("no child %s", name);
    return c;
  }
  QWidget* entry(const char* name) const { return child<QWidget>(w_.get(), name); }
  // The three window entries and the angle write are all shown or all hidden.
  bool entriesShown(bool shown) const {
    for (QWidget* w :
         {entry("toolButton_9"), entry("setVerticalPushButton"), entry("setLidarModePushButton"),
          static_cast<QWidget*>(
              child<QPushButton>(w_->verticalAngleSetting_.get(), "setPushButton"))})
      if (w->isHidden() == shown) return false;
    return true;
  }
  // Engineering mode through the Help tab, confirmed.
  void switchOn() {
    BoxAnswerer boxes;
    child<QToolButton>(w_.get(), "toolButton_Engineering")->click();
    QVERIFY(w_->engineeringMode());
  }
  // The simulator on 127.0.0.2 (listening on 2368, where angle datagrams go) and the window
  // connected to it on free ports; returns once point data is drawn.
  void connectToSimulator() {
    const quint16 dataPort = tovik::test::freeUdpPort(), devicePort = tovik::test::freeUdpPort();
    child<QLineEdit>(w_.get(), "lineEdit_portNumber")->setText(QString::number(dataPort));
    child<QLineEdit>(w_.get(), "lineEdit")->setText(QString::number(devicePort));
    tovik::sim::RunOptions o = tovik::test::loopbackSimulator(dataPort, devicePort);
    o.dataSourcePort = tovik::kVerticalAnglePort;
    o.durationS = 60;
    lidar_ = std::make_unique<tovik::test::SimulatedLidar>(o);
    std::string error;
    QVERIFY2(lidar_->start(&error), error.c_str());
    child<QToolButton>(w_.get(), "toolButton_Lidar")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!w_->awaitingFirstStatus_, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(w_->revolutionsPassed_ > 2, 5000);
  }

 private slots:
  void initTestCase() { qRegisterMetaType<std::vector<int>>(); }
  void init() {
    w_ = std::make_unique<manwindow>();
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() {
    w_->onDisconnectLidar();
    QTRY_VERIFY_WITH_TIMEOUT(!w_->getSet_->isRunning() && !w_->getlidarData_->isRunning() &&
                                 !w_->getlidarData1_->isRunning(),
                             2000);
    w_.reset();
    lidar_.reset();
  }

  void helpEntryAsksBeforeSwitchingOn() {
    QVERIFY(entriesShown(false));
    auto* button = child<QToolButton>(w_.get(), "toolButton_Engineering");
    QCOMPARE(button->parentWidget(), entry("Tab_5"));
    QVERIFY(button->isCheckable() && !button->isChecked());
    QSignalSpy mode(w_.get(), &manwindow::sendEngineeringMode);

    BoxAnswerer boxes;
    boxes.answer = QMessageBox::No;
    button->click();
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY2(boxes.boxes[0].startsWith("Question/") && boxes.boxes[0].contains("\"Distance\"") &&
                 boxes.boxes[0].contains("\"SetMode\""),
             qPrintable(boxes.boxes[0]));
    QVERIFY(!button->isChecked() && !w_->engineeringMode() && entriesShown(false));
    QCOMPARE(mode.count(), 0);

    boxes.answer = QMessageBox::Yes;
    button->click();
    QCOMPARE(boxes.boxes.size(), 2);
    QVERIFY(button->isChecked() && w_->engineeringMode() && entriesShown(true));
    child<QPushButton>(w_.get(), "setVerticalPushButton")->click();
    QVERIFY(w_->verticalAngleSetting_->isVisible());

    // Off needs no confirmation and takes the windows away with the entries.
    button->click();
    QCOMPARE(boxes.boxes.size(), 2);
    QVERIFY(!w_->engineeringMode() && entriesShown(false));
    QVERIFY(!w_->verticalAngleSetting_->isVisible());
    QCOMPARE(mode.count(), 2);
  }

  // The vertical angle window from its entry: Refresh reads the simulator's angles; the write
  // names the lidar's address, No sends nothing, Yes changes the simulator's calibration.
  void angleWriteAgainstSimulator() {
    switchOn();
    connectToSimulator();
    child<QPushButton>(w_.get(), "setVerticalPushButton")->click();
    VerticalAngleSetting* angles = w_->verticalAngleSetting_.get();
    QVERIFY(angles->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(angles->hasDevicePacket(), 5000);

    BoxAnswerer boxes;
    child<QPushButton>(angles, "updatePushButton")->click();
    QCOMPARE(boxes.boxes.join(" | "), QString::fromUtf8("提示/刷新成功"));
    // Channel 0 as the simulated device is calibrated (near the nominal -15 degrees).
    QCOMPARE(angles->model()->item(0, 1)->text(),
             QString::number(
                 tovik::sim::calibratedVerticalAngles(tovik::sim::SimConfig())[0] / 100.0, 'f', 2));
    angles->model()->setData(angles->model()->index(0, 2), QStringLiteral("-15.25"));  // ch 0

    const QString question = QStringLiteral(
        "Question/Write these vertical angles to the lidar at 127.0.0.2 (UDP port 2368)? This "
        "changes the device's calibration.");
    boxes.boxes.clear();
    boxes.answer = QMessageBox::No;
    child<QPushButton>(angles, "setPushButton")->click();
    QCOMPARE(boxes.boxes.join(" | "), question);
    QVERIFY(angles->hasDevicePacket());

    boxes.boxes.clear();
    boxes.answer = QMessageBox::Yes;
    child<QPushButton>(angles, "setPushButton")->click();
    QCOMPARE(boxes.boxes.join(" | "),
             question + QString::fromUtf8(" | 提示/设置成功 | 提示/刷新成功"));
    QTRY_VERIFY_WITH_TIMEOUT(lidar_->logged("vertical angles:"), 5000);
    lidar_->stop();
    // One datagram only: the one answered No never left (it would have arrived first).
    QCOMPARE(occurrences(lidar_->log(), "vertical angles:"), size_t(1));
    QCOMPARE(lidar_->runner().simulator().state().verticalAngleDeg(0), -15.25);
  }

  // The advanced settings window (Refresh, then Set with dual return against the simulator,
  // captured on lo) and the mode window (OK switches to the dual-return receiver, which then
  // decodes the simulator's new stream).
  void advancedAndModeWindowsAgainstSimulator() {
    if (geteuid() != 0) QSKIP("capturing on lo needs root (CAP_NET_RAW)");
    switchOn();
    connectToSimulator();
    QVERIFY(w_->getlidarData1_->isRunning());  // the simulator starts single-return

    child<QToolButton>(w_.get(), "toolButton_9")->click();
    ACWPSettingWidget* advanced = w_->acwpSetting_.get();
    QVERIFY(advanced->isVisible());
    BoxAnswerer boxes;
    child<QPushButton>(advanced, "pushButton_Refreshlidar")->click();
    QCOMPARE(boxes.boxes.join(" | "), QStringLiteral("Tips/Resresh completed"));
    child<QComboBox>(advanced, "comboBox_SingleOrDouble")->setCurrentIndex(1);
    boxes.boxes.clear();
    child<QPushButton>(advanced, "pushButton_OK")->click();
    QVERIFY2(boxes.boxes.endsWith(QStringLiteral("Tips/Setup completed")),
             qPrintable(boxes.boxes.join(" | ")));
    QTRY_VERIFY_WITH_TIMEOUT(lidar_->logged("echo mode single -> dual"), 5000);

    child<QPushButton>(w_.get(), "setLidarModePushButton")->click();
    SetLidarModes* modes = w_->setLidarModes_.get();
    QVERIFY(modes->isVisible());
    child<QAbstractButton>(modes, "checkBox_secondEcho")->click();
    child<QPushButton>(modes, "pushButton_OK")->click();
    QVERIFY(w_->getlidarData_->isRunning() && !w_->getlidarData1_->isRunning());
    QCOMPARE(w_->readLiveOffData_->sensorType, QStringLiteral("Tovik16-2"));
    QTRY_VERIFY_WITH_TIMEOUT(w_->getlidarData_->stats().snapshot().revolutions > 2, 5000);
  }
};

int main(int argc, char* argv[]) {
  QSurfaceFormat format = QVTKOpenGLNativeWidget::defaultFormat();
  format.setSamples(0);
  QSurfaceFormat::setDefaultFormat(format);
  QApplication app(argc, argv);
  EngineeringModeTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "engineering_mode_test.moc"
