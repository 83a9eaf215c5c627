// The vertical angle window: table and form, nominal tables per angle mode, the deviation
// warning, refresh and write with their boxes (datagrams received on loopback port 2368), and
// end to end against the simulated lidar.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <memory>
#include <sstream>
#include <thread>

#include "acquisition/geometry.h"
#include "acquisition/udp_socket.h"
#include "device/GetSet.h"
#include "dialogs/VerticalAngleSetting.h"
#include "dialogs/vertical_angle_packet.h"
#include "loopback_sim.h"
#include "tools/sim/sim_runner.h"

namespace {

// Answers every modal box as it appears (Yes to a question) and keeps "title/text" of each.
class BoxAnswerer : public QObject {
 public:
  QStringList boxes;
  BoxAnswerer() {
    connect(&timer_, &QTimer::timeout, this, [this] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        boxes << box->windowTitle() + "/" + box->text();
        QAbstractButton* yes = box->button(QMessageBox::Yes);
        (yes != nullptr ? yes : box->button(QMessageBox::Ok))->click();
      }
    });
    timer_.start(20);
  }
  QString joined() const { return boxes.join(" | "); }

 private:
  QTimer timer_;
};

// The device address the window test writes to; the device listens on port 2368 there.
constexpr uint8_t kTestDevice[4] = {127, 0, 0, 3};

// A device information packet reporting the angles (hundredths, device encoding).
std::array<uint8_t, tovik::kDevicePacketSize> devicePacket(const std::array<int, 16>& angles) {
  std::array<uint8_t, tovik::kDevicePacketSize> p{};
  std::memcpy(p.data(), tovik::kDeviceHeader, 8);
  std::memcpy(p.data() + 10, kTestDevice, 4);
  for (int ch = 0; ch < 16; ++ch) {
    const std::array<uint8_t, 2> b = tovik::encodeAngle(angles[size_t(ch)]);
    p[size_t(245 + 2 * ch)] = b[0];
    p[size_t(246 + 2 * ch)] = b[1];
  }
  for (size_t i = 277; i < 309; ++i) p[i] = 0x5A;  // must be zeroed in the write
  p[700] = 0x42;                                   // carried
  return p;
}

std::array<int, 16> nominalHundredths(int mode) {
  std::array<int, 16> a{};
  for (int ch = 0; ch < 16; ++ch)
    a[size_t(ch)] = tovik::angleHundredths(tovik::nominalVerticalAngles(mode)[size_t(ch)]);
  return a;
}

}  // namespace

class VerticalAngleWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<VerticalAngleSetting> w_;

  QString cell(int row, int column) const {
    return w_->model()->data(w_->model()->index(row, column)).toString();
  }
  void setCell(int row, const QString& text) {
    w_->model()->setData(w_->model()->index(row, 2), text);
  }
  QLabel* label(const char* name) const { return w_->findChild<QLabel*>(name); }
  // Delivers a device packet through both slots, as the receiver does.
  void deliver(const std::array<uint8_t, tovik::kDevicePacketSize>& p) {
    SettingData s = tovik::decodeSettingData(p.data());
    w_->onLidarStatusReceiving_(&s, tovik::buildMacVector(p.data()));
    w_->OnLidarDifoData_(p.data());
  }

 private slots:
  void init() { w_ = std::make_unique<VerticalAngleSetting>(); }
  void cleanup() { w_.reset(); }

  void formAndInitialTable() {
    QCOMPARE(w_->windowTitle(), QStringLiteral("Vertical Angle Setting"));
    QCOMPARE(w_->size(), QSize(586, 629));
    QVERIFY(!w_->testAttribute(Qt::WA_QuitOnClose));
    auto* update = w_->findChild<QPushButton*>("updatePushButton");
    auto* set = w_->findChild<QPushButton*>("setPushButton");
    QCOMPARE(update->text(), QString::fromUtf8("刷新"));
    QCOMPARE(set->text(), QString::fromUtf8("设置"));
    QVERIFY(set->isHidden());
    QVERIFY(label("label")->text().isEmpty());
    QVERIFY(label("label_2")->text().isEmpty());
    auto* view = w_->findChild<QTableView*>("tableView");
    QCOMPARE(view->model(), w_->model());
    QCOMPARE(view->editTriggers(), QAbstractItemView::NoEditTriggers);
    QVERIFY(view->verticalHeader()->isHidden());
    QCOMPARE(view->horizontalHeader()->height(), 40);
    QVERIFY(view->horizontalHeader()->stretchLastSection());
    QCOMPARE(view->columnWidth(0), 150);
    QCOMPARE(w_->model()->rowCount(), 16);
    QCOMPARE(w_->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Actual Channel"));
    QCOMPARE(w_->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("ReView Angle"));
    QCOMPARE(w_->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Set Angle"));
    for (int k = 0; k < 16; ++k) {
      QCOMPARE(cell(k, 0), QString::number(k));
      QCOMPARE(cell(k, 1), QString::number(-15 + 2 * k));
      QVERIFY(cell(k, 2).isEmpty());
      QCOMPARE(w_->model()->item(k, 1)->textAlignment(), Qt::AlignCenter);
    }
  }

  void degreeModeWritesNominalTable() {
    w_->setDegreeMode(1);
    QCOMPARE(w_->degreeMode(), 1);
    QCOMPARE(cell(8, 2), QStringLiteral("0.67"));    // channel 1, 0.665
    QCOMPARE(cell(1, 2), QStringLiteral("-8.66"));   // channel 2, -8.665
    QCOMPARE(cell(15, 2), QStringLiteral("10.00"));  // channel 15
    w_->setDegreeMode(0);
    for (int ch = 0; ch < 16; ++ch)
      QCOMPARE(cell(tovik::kChannelRow[ch], 2),
               QString::number(double(tovik::nominalVerticalAngles(0)[size_t(ch)]), 'f', 2));
    w_->setDegreeMode(2);  // stored, table unchanged
    QCOMPARE(w_->degreeMode(), 2);
    QCOMPARE(cell(0, 2), QStringLiteral("-15.00"));
    QCOMPARE(w_->getAngleDatas(0), -1500);
    QCOMPARE(w_->getAngleDatas(1), 100);  // channel 1 sits in row 8, nominal 1 degree
  }

  void deviationWarningNamesRow() {
    w_->showAngleMistake(1);
    QCOMPARE(w_->mistakenChannel(), 1);
    QCOMPARE(label("label")->text(), QString::fromUtf8("回读：通道8  偏差大于正负1.5\n"));
    QCOMPARE(label("label")->styleSheet(), QStringLiteral("color:red;"));
    w_->showAngleMistake(16);  // out of range: text stays
    QCOMPARE(label("label")->text(), QString::fromUtf8("回读：通道8  偏差大于正负1.5\n"));
  }

  void nothingWithoutDevicePacket() {
    uint8_t other[tovik::kDevicePacketSize] = {0xFF, 0xEE};
    w_->OnLidarDifoData_(other);
    QVERIFY(!w_->hasDevicePacket());
    BoxAnswerer boxes;
    w_->reflushLidarStatus();
    w_->SendPacketToLidar();
    QCOMPARE(boxes.joined(), QString::fromUtf8("提示/连接错误 | 提示/连接错误"));
    QCOMPARE(cell(0, 1), QStringLiteral("-15"));
  }

  void refreshShowsReportedAngles() {
    std::array<int, 16> angles = nominalHundredths(0);
    angles[0] = -1499;  // FA 24
    angles[1] = 0;
    deliver(devicePacket(angles));
    QVERIFY(w_->hasDevicePacket());
    label("label")->setText("old");
    BoxAnswerer boxes;
    w_->reflushLidarStatus();
    QCOMPARE(boxes.joined(), QString::fromUtf8("提示/刷新成功"));
    QCOMPARE(cell(0, 1), QStringLiteral("-14.99"));
    QCOMPARE(cell(8, 1), QStringLiteral("0.00"));
    QCOMPARE(cell(15, 1), QStringLiteral("15.00"));
    QCOMPARE(cell(0, 2), QStringLiteral("-14.99"));  // copied into Set Angle
    QCOMPARE(cell(8, 2), QStringLiteral("0.00"));
    QVERIFY(label("label")->text().isEmpty());
  }

  // Issue 9: angles read back are written back unchanged. 0.53 and -16.47 are where truncating
  // the single-precision product (52.999996, -1646.9999) would lose a hundredth.
  void readBackAnglesWriteBackUnchanged() {
    std::array<int, 16> angles = nominalHundredths(0);
    angles[0] = -1647;  // row 0
    angles[1] = 53;     // row 8
    deliver(devicePacket(angles));
    BoxAnswerer boxes;
    w_->reflushLidarStatus();
    QCOMPARE(cell(0, 2), QStringLiteral("-16.47"));
    QCOMPARE(cell(8, 2), QStringLiteral("0.53"));
    for (int ch = 0; ch < 16; ++ch) QCOMPARE(w_->getAngleDatas(ch), angles[size_t(ch)]);
  }

  void refreshAllZeroKeepsSetColumn() {
    w_->setDegreeMode(0);
    deliver(devicePacket(std::array<int, 16>{}));
    BoxAnswerer boxes;
    w_->reflushLidarStatus();
    QCOMPARE(boxes.joined(), QString::fromUtf8("提示/刷新成功"));
    for (int k = 0; k < 16; ++k) QCOMPARE(cell(k, 1), QStringLiteral("0.00"));
    QCOMPARE(cell(0, 2), QStringLiteral("-15.00"));
  }

  void writeSendsAnglesToDevice() {
    tovik::net::UdpSocket rx;
    QVERIFY(rx.open() && rx.setReuseAddress(true) && rx.bind("127.0.0.3", 2368) &&
            rx.setReceiveTimeout(1000));
    w_->setDegreeMode(0);
    deliver(devicePacket(nominalHundredths(0)));
    setCell(0, "-16.5");  // channel 0, exactly 1.5 from nominal
    setCell(8, "1.01");   // channel 1
    BoxAnswerer boxes;
    w_->SendPacketToLidar();
    // Confirmed first; the write refreshes afterwards, which shows its own box.
    QCOMPARE(boxes.joined(),
             QString::fromUtf8("Question/Write these vertical angles to the lidar at 127.0.0.3 "
                               "(UDP port 2368)? This changes the device's calibration. | "
                               "提示/设置成功 | 提示/刷新成功"));
    QVERIFY(!w_->hasDevicePacket());  // the next device packet sets it again
    uint8_t buf[2048];
    size_t n = 0;
    QCOMPARE(rx.receive(buf, sizeof buf, &n), tovik::net::RecvStatus::Ok);
    QCOMPARE(n, size_t(1206));
    const uint8_t header[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
    QVERIFY(std::memcmp(buf, header, 8) == 0);
    QCOMPARE(tovik::readU16BE(buf + 245), uint16_t(65535 - 1650));
    QCOMPARE(tovik::readU16BE(buf + 247), uint16_t(101));
    QCOMPARE(tovik::readU16BE(buf + 249), uint16_t(65535 - 1300));  // channel 2 nominal
    for (int i = 277; i < 309; ++i) QCOMPARE(int(buf[i]), 0);
    QCOMPARE(int(buf[700]), 0x42);
    QCOMPARE(int(buf[1204]), 0x0F);
    QCOMPARE(int(buf[1205]), 0xF0);
  }

  void writeRefusesDeviation_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::newRow("channel 0") << 0 << "-16.6";
    QTest::newRow("channel 1") << 8 << "2.6";
    QTest::newRow("not a number") << 15 << "x";  // reads 0, 15 from nominal
  }
  void writeRefusesDeviation() {
    QFETCH(int, row);
    QFETCH(QString, text);
    tovik::net::UdpSocket rx;
    QVERIFY(rx.open() && rx.setReuseAddress(true) && rx.bind("127.0.0.3", 2368) &&
            rx.setReceiveTimeout(300));
    w_->setDegreeMode(0);
    deliver(devicePacket(nominalHundredths(0)));
    setCell(row, text);
    BoxAnswerer boxes;
    w_->SendPacketToLidar();
    const QString message = QString::fromUtf8("设置：通道") + QString::number(row) +
                            QString::fromUtf8("  偏差大于正负1.5，请重新输入");
    QCOMPARE(boxes.joined(), QString::fromUtf8("提示/") + message);
    QCOMPARE(label("label_2")->text(), message);
    QVERIFY(w_->hasDevicePacket());
    uint8_t buf[2048];
    size_t n = 0;
    QCOMPARE(rx.receive(buf, sizeof buf, &n), tovik::net::RecvStatus::Timeout);
  }

  void sendFailureIsReported() {
    uint8_t packet[tovik::kDevicePacketSize] = {};
    BoxAnswerer boxes;
    QVERIFY(!w_->SendPacketDataToLidar(packet, "127.0.0.1", 0));
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY2(boxes.boxes[0].contains("127.0.0.1:0"), qPrintable(boxes.joined()));
  }

  // The simulator on 127.0.0.2 listens on port 2368; the write changes its angles and the next
  // device packet shows them.
  void endToEndWithSimulator() {
    tovik::sim::RunOptions o =
        tovik::test::loopbackSimulator(tovik::test::freeUdpPort(), tovik::test::freeUdpPort());
    o.dataSourcePort = tovik::kVerticalAnglePort;  // where the angle datagrams arrive
    o.durationS = 60;
    tovik::test::SimulatedLidar lidar(o);
    std::string error;
    QVERIFY2(lidar.start(&error), error.c_str());

    registerDeviceMetaTypes();
    GetSet getSet;
    getSet.port = o.sim.devicePort;
    connect(&getSet, &GetSet::SendLidarStatusToSettingUI, w_.get(),
            &VerticalAngleSetting::onLidarStatusReceiving_, Qt::UniqueConnection);
    connect(&getSet, &GetSet::SendDataDifo, w_.get(), &VerticalAngleSetting::OnLidarDifoData_,
            Qt::UniqueConnection);
    getSet.start();
    struct StopGetSet {
      GetSet& g;
      ~StopGetSet() {
        g.stopRequested = true;
        g.wait();
      }
    } stopGetSet{getSet};
    QTRY_VERIFY_WITH_TIMEOUT(w_->hasDevicePacket(), 5000);

    BoxAnswerer boxes;
    w_->reflushLidarStatus();
    // Channels 0 and 15 as the simulated device is calibrated (near -15 and 15 degrees).
    const auto calibrated = tovik::sim::calibratedVerticalAngles(o.sim);
    QCOMPARE(cell(0, 1), QString::number(calibrated[0] / 100.0, 'f', 2));
    QCOMPARE(cell(15, 1), QString::number(calibrated[15] / 100.0, 'f', 2));
    w_->setDegreeMode(0);
    setCell(0, "-15.5");   // channel 0
    setCell(15, "14.25");  // channel 15
    boxes.boxes.clear();
    w_->SendPacketToLidar();
    QCOMPARE(boxes.boxes.size(), 3);  // the confirmation, then the write's and refresh's boxes
    QCOMPARE(boxes.boxes.mid(1).join(" | "), QString::fromUtf8("提示/设置成功 | 提示/刷新成功"));
    QTRY_VERIFY_WITH_TIMEOUT(w_->hasDevicePacket(), 5000);
    // The first packet after the write may have left before the simulator applied it.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
          BoxAnswerer quiet;
          w_->reflushLidarStatus();
          return cell(0, 1) == QStringLiteral("-15.50");
        }(),
        5000);
    QCOMPARE(cell(15, 1), QStringLiteral("14.25"));
    QCOMPARE(cell(1, 1), QStringLiteral("-13.00"));
    lidar.stop();
    QVERIFY2(lidar.log().find("vertical angles") != std::string::npos, lidar.log().c_str());
  }
};

QTEST_MAIN(VerticalAngleWindowTest)
#include "vertical_angle_window_test.moc"
