// The network settings window: its form, the live status read-out, "Refresh state", the three
// checks and the message boxes of "Set", and the datagram it hands to the network. The last
// test runs the simulated lidar over loopback: Set changes the simulator, and its next device
// packet shows the change in the window.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QValidator>
#include <QtTest>
#include <atomic>
#include <memory>
#include <sstream>
#include <thread>

#include "acquisition/udp_socket.h"
#include "device/GetSet.h"
#include "device/InetactionSetupWidget.h"
#include "device/network_config_packet.h"
#include "device/setting_data.h"
#include "dialogs/ACWPSettingWidget.h"
#include "loopback_sim.h"
#include "tools/sim/sim_runner.h"
#include "tools/sim/sim_state.h"

namespace {

using Packet = std::array<uint8_t, tovik::kDevicePacketSize>;

// Answers every message box that becomes modal while it lives, recording title and text.
// Question boxes get questionAnswer, every other box its Ok button.
class BoxAnswerer : public QObject {
 public:
  struct Seen {
    QString title;
    QString text;
  };
  explicit BoxAnswerer(QMessageBox::StandardButton questionAnswer = QMessageBox::Ok)
      : questionAnswer_(questionAnswer) {
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::poll);
    timer_.start(10);
  }
  QList<Seen> seen;
  QStringList texts() const {
    QStringList t;
    for (const Seen& s : seen) t << s.text;
    return t;
  }

 private:
  void poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    seen.append({box->windowTitle(), box->text()});
    QAbstractButton* b = box->button(
        box->standardButtons() & QMessageBox::Cancel ? questionAnswer_ : QMessageBox::Ok);
    if (b == nullptr) b = box->buttons().value(0);
    if (b != nullptr) b->click();
  }
  QMessageBox::StandardButton questionAnswer_;
  QTimer timer_;
};

// A device packet as the simulated lidar reports state.
Packet packetOf(const tovik::sim::SimState& state) {
  Packet p;
  tovik::sim::buildDevicePacket(state, 1700000000ull * 1000000000ull, p.data());
  return p;
}

tovik::sim::SimState defaultState() { return tovik::sim::initialState(tovik::sim::SimConfig{}); }

struct SentDatagram {
  Packet bytes{};
  QString address;
  uint16_t port = 0;
};

}  // namespace

class InetactionTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<InetactionSetupWidget> w_;
  QList<SentDatagram> sent_;
  bool sendFails_ = false;

  template <typename T>
  T* child(const char* name) const {
    T* c = w_->findChild<T*>(QString::fromLatin1(name));
    if (c == nullptr) qWarning("no child %s", name);
    return c;
  }
  QString text(const char* name) const { return child<QLineEdit>(name)->text(); }

  // Delivers one device packet the way the receiver does: the record first, then the bytes.
  void deliver(const Packet& p, bool withRecord = true) {
    if (withRecord) {
      tovik::DevicePacketContents c = tovik::decodeDevicePacket(p.data());
      w_->OnLidarStatusReceiving(&c.record, c.mac);
    }
    w_->OnLidarDifoData(p.data());
  }

 private slots:
  void init() {
    sent_.clear();
    sendFails_ = false;
    w_ = std::make_unique<InetactionSetupWidget>();
    w_->setDatagramSender(
        [this](const uint8_t* d, size_t n, const QString& address, uint16_t port, QString* error) {
          if (sendFails_) {
            *error = QStringLiteral("Network is unreachable");
            return false;
          }
          SentDatagram s;
          if (n == s.bytes.size()) std::copy(d, d + n, s.bytes.begin());
          s.address = address;
          s.port = port;
          sent_.append(s);
          return true;
        });
    w_->setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(10, 20, 30)); });
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() { w_.reset(); }

  void formMatchesTheWindow() {
    QCOMPARE(w_->windowTitle(), QStringLiteral("InteractionSet"));
    QCOMPARE(w_->minimumSize(), QSize(600, 630));
    QCOMPARE(w_->maximumSize(), QSize(658, 700));
    QVERIFY(!w_->testAttribute(Qt::WA_QuitOnClose));
    QCOMPARE(child<QGroupBox>("groupBox")->title(), QStringLiteral("Laser Config"));
    QCOMPARE(child<QGroupBox>("groupBox_real_time_status")->title(), QStringLiteral("Laser State"));
    QCOMPARE(child<QGroupBox>("groupBox_2")->title(), QString::fromUtf8("GPS Posotion："));
    QCOMPARE(child<QPushButton>("pushButton_LidarRefresh")->text(),
             QStringLiteral("Refresh state"));
    QCOMPARE(child<QPushButton>("pushButton_OK")->text(), QStringLiteral("Set"));
    QCOMPARE(child<QPushButton>("pushButton_Cancel")->text(), QStringLiteral("Cancel"));
    QVERIFY(!child<QPushButton>("pushButton_OK")->isEnabled());

    for (const char* hidden :
         {"lineEdit_Subnet", "lineEdit_Gateway", "lineEdit_Plate_3_V", "lineEdit_High_T_Pause",
          "lineEdit_Machine_Stop_T", "lineEdit_GPS_State", "lineEdit_PPS_State",
          "lineEdit_Current_IP", "lineEdit_Current_Port"})
      QVERIFY2(!child<QLineEdit>(hidden)->isVisible(), hidden);
    for (const char* disabled :
         {"lineEdit_mac_addr", "lineEdit_utc_time", "lineEdit_PPS_Set_Angle",
          "lineEdit_Motor_State", "lineEdit", "lineEdit_2", "lineEdit_GPS_Position_longitude",
          "lineEdit_GPS_Position_latitude"})
      QVERIFY2(!child<QLineEdit>(disabled)->isEnabled(), disabled);
    for (const char* editable :
         {"lineEdit_DefaultIP", "lineEdit_DestIP", "lineEdit_defaultPort", "lineEdit_destPort",
          "lineEdit_interval", "lineEdit_NTP", "lineEdit_SetPPS_Angle", "lineEdit_Plate_2_T"})
      QVERIFY2(child<QLineEdit>(editable)->isEnabled() && child<QLineEdit>(editable)->isVisible(),
               editable);

    const struct {
      const char* combo;
      QStringList items;
    } combos[] = {
        {"comboBox_rotateSpeed", {" 5 HZ", " 10 HZ", " 20 HZ"}},
        {"comboBox_localTime", {" Yes", " No"}},
        {"comboBox", {"Run", "Stop", "OutputRate"}},
        {"comboBox_LVDS_Valuse",
         {QString::fromUtf8("0：LVDS锁定"), QString::fromUtf8("1：LVDS未锁定")}},
        {"comboBox_LidarClean", {"Clean", "Mild pollution", "Serious pollution"}},
        {"comboBox_LidarStatus", {"Running", "Sleep"}},
    };
    for (const auto& c : combos) {
      auto* box = child<QComboBox>(c.combo);
      QStringList items;
      for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
      QCOMPARE(items, c.items);
    }
  }

  void validatorsAcceptAndRefuse() {
    const struct {
      const char* field;
      const char* text;
      QValidator::State state;
    } cases[] = {
        {"lineEdit_DefaultIP", "192.168.1.200", QValidator::Acceptable},
        {"lineEdit_DefaultIP", "192.168.1.256", QValidator::Invalid},
        {"lineEdit_DefaultIP", "192.168.1", QValidator::Intermediate},
        {"lineEdit_NTP", "10.0.0.1", QValidator::Acceptable},
        {"lineEdit_defaultPort", "65536", QValidator::Acceptable},
        {"lineEdit_destPort", "1024", QValidator::Acceptable},
        {"lineEdit_destPort", "700000", QValidator::Invalid},
        {"lineEdit_interval", "1", QValidator::Acceptable},
        {"lineEdit_interval", "2", QValidator::Intermediate},
        {"lineEdit_SetPPS_Angle", "360", QValidator::Acceptable},
        {"lineEdit_SetPPS_Angle", "3600", QValidator::Invalid},
    };
    for (const auto& c : cases) {
      QString t = QString::fromLatin1(c.text);
      int pos = 0;
      const QValidator* v = child<QLineEdit>(c.field)->validator();
      QVERIFY2(v != nullptr, c.field);
      QVERIFY2(v->validate(t, pos) == c.state,
               qPrintable(QStringLiteral("%1 %2").arg(QString::fromLatin1(c.field), t)));
    }
  }

  void liveStatusShowsEveryRecord() {
    auto s = defaultState();
    s.rpm = 80;
    s.mac = {0x60, 0x76, 0x88, 0x0a, 0xbc, 0x01};
    s.ppsAngle = 4550;
    s.cleanliness = 2;
    s.lvds = {0, 1};
    QSignalSpy versions(w_.get(), &InetactionSetupWidget::sVersionsToHelp);
    deliver(packetOf(s));
    QCOMPARE(text("lineEdit_Motor_State"), QStringLiteral("0"));  // 100 RPM or less
    QCOMPARE(text("lineEdit_mac_addr"), QStringLiteral("60-76-88-0a-bc-01"));
    QCOMPARE(text("lineEdit_PPS_Set_Angle"), QStringLiteral("45.50"));
    QCOMPARE(text("lineEdit_utc_time"), QStringLiteral("2023/11/14 22:13:20"));
    QCOMPARE(text("lineEdit_GPS_Position_latitude"), QStringLiteral("3016.06120N"));
    QCOMPARE(text("lineEdit_GPS_Position_longitude"), QStringLiteral("12008.6152E"));
    QCOMPARE(text("lineEdit"), QStringLiteral("0"));  // -0.05 degrees: locked
    QCOMPARE(text("lineEdit_2"), QStringLiteral("-0.05"));
    QCOMPARE(text("lineEdit_Machine_Stop_T"), QStringLiteral("85.03"));
    QCOMPARE(text("lineEdit_Plate_3_V"), QStringLiteral("1205033050"));
    QCOMPARE(child<QComboBox>("comboBox_LidarClean")->currentIndex(), 2);
    QCOMPARE(child<QComboBox>("comboBox_LVDS_Valuse")->currentIndex(), 1);

    // Versions go out for the first record only.
    QCOMPARE(versions.count(), 1);
    const QStringList v = versions.at(0).at(0).toStringList();
    QCOMPARE(v.size(), 8);
    QCOMPARE(v.at(1), QStringLiteral("2021.3.11-V.3.2.0"));
    s.cleanliness = 7;  // not a code: the selector stays
    deliver(packetOf(s));
    QCOMPARE(versions.count(), 1);
    QCOMPARE(child<QComboBox>("comboBox_LidarClean")->currentIndex(), 2);
  }

  void refreshNeedsAPacketSinceTheLastRefresh() {
    BoxAnswerer boxes;
    w_->onRefreshCilcked();
    QCOMPARE(boxes.texts(), QStringList{"Please check the device package port !"});
    QCOMPARE(boxes.seen.at(0).title, QStringLiteral("warring"));
    QVERIFY(!child<QPushButton>("pushButton_OK")->isEnabled());

    deliver(packetOf(defaultState()));
    w_->onRefreshCilcked();
    QCOMPARE(boxes.texts().last(), QStringLiteral("Resresh completed"));
    QVERIFY(child<QPushButton>("pushButton_OK")->isEnabled());
    w_->onRefreshCilcked();  // no packet in between
    QCOMPARE(boxes.texts().last(), QStringLiteral("Please check the device package port !"));
    QVERIFY(child<QPushButton>("pushButton_OK")->isEnabled());  // stays enabled
  }

  void refreshFillsTheEditableFields() {
    auto s = defaultState();
    s.rpm = 300;
    s.ntpIp = {10, 1, 2, 3};
    s.packetInterval = 1;
    s.motorState = tovik::sim::kMotorOutputRate;
    s.lidarStatus = tovik::sim::kLidarSleep;
    s.dataPort = 3001;
    s.devicePort = 3002;
    BoxAnswerer boxes;
    deliver(packetOf(s));
    w_->onRefreshCilcked();
    QCOMPARE(text("lineEdit_DefaultIP"), QStringLiteral("127.0.0.2"));
    QCOMPARE(text("lineEdit_DestIP"), QStringLiteral("127.0.0.1"));
    QCOMPARE(text("lineEdit_NTP"), QStringLiteral("10.1.2.3"));
    QCOMPARE(text("lineEdit_defaultPort"), QStringLiteral("3001"));
    QCOMPARE(text("lineEdit_destPort"), QStringLiteral("3002"));
    QCOMPARE(text("lineEdit_interval"), QStringLiteral("1"));
    QCOMPARE(child<QComboBox>("comboBox_rotateSpeed")->currentText(), QStringLiteral(" 5 HZ"));
    QCOMPARE(child<QComboBox>("comboBox")->currentText(), QStringLiteral("OutputRate"));
    QCOMPARE(child<QComboBox>("comboBox_LidarStatus")->currentText(), QStringLiteral("Sleep"));

    // 700 RPM matches no entry: the selection stays.
    s.rpm = 700;
    deliver(packetOf(s));
    w_->onRefreshCilcked();
    QCOMPARE(child<QComboBox>("comboBox_rotateSpeed")->currentText(), QStringLiteral(" 5 HZ"));
    QCOMPARE(text("lineEdit_Motor_State"), QStringLiteral("700"));

    // A packet without a record since the last refresh: addresses and ports, no "completed".
    const int shown = boxes.seen.size();
    s.dataPort = 4001;
    deliver(packetOf(s), /*withRecord=*/false);
    w_->onRefreshCilcked();
    QCOMPARE(boxes.seen.size(), shown);
    QCOMPARE(text("lineEdit_defaultPort"), QStringLiteral("3001"));  // the record's ports
    QVERIFY(child<QPushButton>("pushButton_OK")->isEnabled());

    w_->onCleanUCWPControl();
    for (const char* f :
         {"lineEdit_DefaultIP", "lineEdit_DestIP", "lineEdit_defaultPort", "lineEdit_destPort",
          "lineEdit_Motor_State", "lineEdit_mac_addr", "lineEdit_interval",
          "lineEdit_GPS_Position_latitude", "lineEdit_GPS_Position_longitude"})
      QVERIFY2(text(f).isEmpty(), f);
    QCOMPARE(text("lineEdit_NTP"), QStringLiteral("10.1.2.3"));  // not among the cleared
  }

  void setRefusesBeforeSending_data() {
    QTest::addColumn<QString>("lidarIp");
    QTest::addColumn<QString>("destIp");
    QTest::addColumn<QString>("dataPort");
    QTest::addColumn<QString>("devicePort");
    QTest::addColumn<QString>("ntp");
    QTest::addColumn<bool>("packet");
    QTest::addColumn<QString>("message");
    const QString sameIp = QStringLiteral(
        "The Lidar local IP cannot be set to the same as the destination IP.Please reset it !");
    const QString samePort =
        QStringLiteral("The Lidar local Port cannot be set to the same as the destination Port !");
    QTest::newRow("same IP") << "127.0.0.2"
                             << "127.0.0.2"
                             << "2368"
                             << "2369"
                             << "" << true << sameIp;
    QTest::newRow("both IPs empty") << ""
                                    << ""
                                    << ""
                                    << ""
                                    << "" << true << sameIp;
    QTest::newRow("same port") << "127.0.0.2"
                               << "127.0.0.1"
                               << "2368"
                               << "2368"
                               << "" << true << samePort;
    QTest::newRow("both ports empty") << "127.0.0.2"
                                      << "127.0.0.1"
                                      << ""
                                      << ""
                                      << "" << true << samePort;
    QTest::newRow("no packet since last Set")
        << "127.0.0.2"
        << "127.0.0.1"
        << "2368"
        << "2369"
        << "" << false << "Please check the device package port !";
    // Regression: an address of fewer than four numbers has no encoding and is refused.
    QTest::newRow("incomplete lidar IP")
        << "127.0.0"
        << "127.0.0.1"
        << "2368"
        << "2369"
        << "" << true
        << "The Lidar IP must be four numbers from 0 to 255 separated by dots.Please reset it !";
    QTest::newRow("incomplete NTP IP")
        << "127.0.0.2"
        << "127.0.0.1"
        << "2368"
        << "2369"
        << "10.1." << true
        << "The NTP IP must be four numbers from 0 to 255 separated by dots.Please reset it !";
    // Issue 9: ports and addresses are checked as typed; 70000 was reported as set.
    QTest::newRow("data port 70000")
        << "127.0.0.2"
        << "127.0.0.1"
        << "70000"
        << "2369"
        << "" << true << "The Data Port must be a number from 1025 to 65535.Please reset it !";
    QTest::newRow("device port text")
        << "127.0.0.2"
        << "127.0.0.1"
        << "2368"
        << "abc"
        << "" << true << "The device Port must be a number from 1025 to 65535.Please reset it !";
    // The device keeps its own port for 1024 and below, so Set would report a change that
    // never happens.
    QTest::newRow("data port 1024")
        << "127.0.0.2"
        << "127.0.0.1"
        << "1024"
        << "2369"
        << "" << true << "The Data Port must be a number from 1025 to 65535.Please reset it !";
    QTest::newRow("dest IP octet 300")
        << "127.0.0.2"
        << "300.0.0.1"
        << "2368"
        << "2369"
        << "" << true
        << "The Dest IP must be four numbers from 0 to 255 separated by dots.Please reset it !";
  }
  void setRefusesBeforeSending() {
    QFETCH(QString, lidarIp);
    QFETCH(QString, destIp);
    QFETCH(QString, dataPort);
    QFETCH(QString, devicePort);
    QFETCH(QString, ntp);
    QFETCH(bool, packet);
    QFETCH(QString, message);
    if (packet) deliver(packetOf(defaultState()));
    child<QLineEdit>("lineEdit_DefaultIP")->setText(lidarIp);
    child<QLineEdit>("lineEdit_DestIP")->setText(destIp);
    child<QLineEdit>("lineEdit_defaultPort")->setText(dataPort);
    child<QLineEdit>("lineEdit_destPort")->setText(devicePort);
    child<QLineEdit>("lineEdit_NTP")->setText(ntp);
    BoxAnswerer boxes;
    w_->onOK_Clicked();
    QCOMPARE(boxes.texts(), QStringList{message});
    QCOMPARE(boxes.seen.at(0).title, QStringLiteral("warring"));
    QVERIFY(sent_.isEmpty());
    QVERIFY(w_->isVisible());
  }

  // Issue 9: the settings windows' icons come from the compiled-in resources, so a viewer started
  // from another folder keeps them.
  void iconsDoNotDependOnTheWorkingDirectory() {
    const QString here = QDir::currentPath();
    QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    InetactionSetupWidget network;
    ACWPSettingWidget advanced;
    QDir::setCurrent(here);
    QVERIFY(!network.windowIcon().pixmap(16).isNull());
    const std::pair<QWidget*, const char*> combos[] = {{&network, "comboBox_rotateSpeed"},
                                                       {&network, "comboBox_localTime"},
                                                       {&advanced, "comboBox_rotateSpeed"}};
    int icons = 0;
    for (const auto& [window, name] : combos) {
      auto* combo = window->findChild<QComboBox*>(QString::fromLatin1(name));
      QVERIFY2(combo != nullptr, name);
      for (int i = 0; i < combo->count(); ++i, ++icons)
        QVERIFY2(!combo->itemIcon(i).pixmap(16).isNull(), qPrintable(combo->itemText(i)));
    }
    QCOMPARE(icons, 8);  // 5, 10 and 20 Hz twice, Yes and No
  }

  void setSendsTheBuiltDatagramToTheReportedAddress() {
    auto s = defaultState();
    s.lidarIp = {255, 255, 255, 255};  // answered at 192.168.1.200; recorded, never sent here
    const Packet device = packetOf(s);
    BoxAnswerer boxes(QMessageBox::Ok);
    deliver(device);
    w_->onRefreshCilcked();
    child<QLineEdit>("lineEdit_DefaultIP")->clear();
    child<QLineEdit>("lineEdit_DestIP")->setText(QStringLiteral("127.0.0.1"));
    child<QLineEdit>("lineEdit_SetPPS_Angle")->setText(QStringLiteral("360"));
    child<QComboBox>("comboBox_rotateSpeed")->setCurrentIndex(2);
    child<QComboBox>("comboBox_localTime")->setCurrentIndex(0);
    w_->onOK_Clicked();

    QCOMPARE(sent_.size(), 1);
    QCOMPARE(sent_.at(0).address, QStringLiteral("192.168.1.200"));
    QCOMPARE(sent_.at(0).port, uint16_t(2368));
    const Packet& d = sent_.at(0).bytes;
    QCOMPARE(d, w_->configPacket());
    const uint8_t header[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA};
    QVERIFY(std::equal(header, header + 8, d.begin()));
    QCOMPARE(std::vector<int>(d.begin() + 8, d.begin() + 14),
             (std::vector<int>{0x04, 0xB0, 0xC0, 0xA8, 0x01, 0xC8}));
    QCOMPARE(std::vector<int>(d.begin() + 48, d.begin() + 58),
             (std::vector<int>{0x8C, 0xA0, device[50], device[51], 26, 12, 8, 10, 20, 30}));
    QVERIFY(std::equal(d.begin() + 58, d.begin() + 1204, device.begin() + 58));
    QCOMPARE(d[1204], uint8_t(0x0F));
    QCOMPARE(d[1205], uint8_t(0xF0));

    QCOMPARE(boxes.texts().mid(1),
             (QStringList{"Setup completed", "Whether to close the Settings form ?"}));
    QCOMPARE(boxes.seen.at(1).title, QStringLiteral("Tips"));
    QCOMPARE(boxes.seen.at(2).title, QStringLiteral("Question"));
    QVERIFY(!w_->isVisible());  // Ok closes (hides) the window

    // A second Set waits for the next device packet.
    w_->onOK_Clicked();
    QCOMPARE(sent_.size(), 1);
    QCOMPARE(boxes.texts().last(), QStringLiteral("Please check the device package port !"));
  }

  void cancelKeepsTheWindowOpen() {
    BoxAnswerer boxes(QMessageBox::Cancel);
    deliver(packetOf(defaultState()));
    w_->onRefreshCilcked();
    w_->onOK_Clicked();
    QCOMPARE(sent_.size(), 1);
    QVERIFY(w_->isVisible());
    QVERIFY(!w_->isEnabled());  // input paused for a moment, the event loop keeps running
    QTRY_VERIFY_WITH_TIMEOUT(w_->isEnabled(), 3000);
  }

  // Regression: a send that fails is reported with its reason and never as completed.
  void sendFailureIsReported() {
    sendFails_ = true;
    BoxAnswerer boxes;
    deliver(packetOf(defaultState()));
    w_->onRefreshCilcked();
    w_->onOK_Clicked();
    QCOMPARE(boxes.seen.size(), 2);
    QCOMPARE(boxes.seen.at(1).title, QStringLiteral("warring"));
    QVERIFY2(boxes.seen.at(1).text.contains(QStringLiteral("127.0.0.2:2368")) &&
                 boxes.seen.at(1).text.contains(QStringLiteral("Network is unreachable")),
             qPrintable(boxes.seen.at(1).text));
    QVERIFY(!boxes.texts().contains(QStringLiteral("Setup completed")));

    // Nothing went out, so the same device packet still allows a retry.
    sendFails_ = false;
    w_->onOK_Clicked();
    QCOMPARE(sent_.size(), 1);
    QVERIFY(boxes.texts().contains(QStringLiteral("Setup completed")));
  }

  // The simulated lidar on its own loopback address: the window sends through a real socket to
  // the address the device packet reports, and the simulator's next device packet shows the
  // new settings in the window.
  void setChangesTheSimulatedLidar() {
    w_->setDatagramSender(nullptr);  // the real one-shot socket
    const quint16 devicePort = tovik::test::freeUdpPort(), dataPort = tovik::test::freeUdpPort(),
                  newDataPort = tovik::test::freeUdpPort();
    QVERIFY(devicePort && dataPort && newDataPort);

    tovik::sim::RunOptions o;
    o.sim.lidarAddress = "127.0.0.41";
    o.sim.destAddress = "127.0.0.1";
    o.sim.dataPort = dataPort;
    o.sim.devicePort = devicePort;
    o.dataSourcePort = tovik::kNetworkConfigPort;  // where configurations arrive
    o.deviceSourcePort = 0;
    o.durationS = 30;
    o.quiet = true;
    tovik::test::SimulatedLidar lidar(o);
    std::string error;
    QVERIFY2(lidar.start(&error), error.c_str());

    GetSet getSet;
    getSet.port = devicePort;
    getSet.multicastIp = "224.1.1.1";
    connect(&getSet, &GetSet::SendLidarStatusToSettingUI, w_.get(),
            &InetactionSetupWidget::OnLidarStatusReceiving);
    connect(&getSet, &GetSet::SendDataDifo, w_.get(), &InetactionSetupWidget::OnLidarDifoData);
    getSet.start();
    struct Stop {
      GetSet& g;
      ~Stop() {
        g.stopRequested = true;
        g.wait(3000);
      }
    } stopGetSet{getSet};

    QTRY_VERIFY_WITH_TIMEOUT(w_->packetsReceived() >= 1, 5000);
    BoxAnswerer boxes(QMessageBox::Cancel);
    w_->onRefreshCilcked();
    QCOMPARE(text("lineEdit_DefaultIP"), QStringLiteral("127.0.0.41"));
    QCOMPARE(text("lineEdit_defaultPort"), QString::number(dataPort));
    QCOMPARE(child<QComboBox>("comboBox_rotateSpeed")->currentText(), QStringLiteral(" 10 HZ"));

    child<QLineEdit>("lineEdit_DefaultIP")->setText(QStringLiteral("127.0.0.42"));
    child<QLineEdit>("lineEdit_DestIP")->setText(QStringLiteral("127.0.0.43"));
    child<QLineEdit>("lineEdit_defaultPort")->setText(QString::number(newDataPort));
    child<QLineEdit>("lineEdit_NTP")->setText(QStringLiteral("127.0.0.9"));
    child<QLineEdit>("lineEdit_SetPPS_Angle")->setText(QStringLiteral("45"));
    child<QComboBox>("comboBox_rotateSpeed")->setCurrentIndex(0);  // 300 RPM
    child<QComboBox>("comboBox")->setCurrentIndex(1);              // Stop
    child<QComboBox>("comboBox_LidarStatus")->setCurrentIndex(1);  // Sleep
    child<QComboBox>("comboBox_localTime")->setCurrentIndex(1);    // No
    const int before = w_->packetsReceived();
    w_->onOK_Clicked();
    QVERIFY2(boxes.texts().contains(QStringLiteral("Setup completed")),
             qPrintable(boxes.texts().join(QLatin1Char('|'))));

    // The next device packet reports the new settings, from the simulator's new address.
    QTRY_VERIFY_WITH_TIMEOUT(
        w_->packetsReceived() > before &&
            tovik::lidarAddressText(w_->devicePacket().data()) == QStringLiteral("127.0.0.42"),
        5000);
    QTRY_VERIFY_WITH_TIMEOUT(w_->isEnabled(), 3000);
    w_->onRefreshCilcked();
    QCOMPARE(text("lineEdit_DefaultIP"), QStringLiteral("127.0.0.42"));
    QCOMPARE(text("lineEdit_DestIP"), QStringLiteral("127.0.0.43"));
    QCOMPARE(text("lineEdit_defaultPort"), QString::number(newDataPort));
    QCOMPARE(text("lineEdit_destPort"), QString::number(devicePort));
    QCOMPARE(text("lineEdit_NTP"), QStringLiteral("127.0.0.9"));
    QCOMPARE(text("lineEdit_Motor_State"), QStringLiteral("300"));
    QCOMPARE(text("lineEdit_PPS_Set_Angle"), QStringLiteral("45.00"));
    QCOMPARE(child<QComboBox>("comboBox")->currentText(), QStringLiteral("Stop"));
    QCOMPARE(child<QComboBox>("comboBox_LidarStatus")->currentText(), QStringLiteral("Sleep"));
    QCOMPARE(boxes.texts().last(), QStringLiteral("Resresh completed"));

    lidar.stop();
    QCOMPARE(lidar.runner().stats().configsApplied, uint64_t(1));
    QCOMPARE(lidar.runner().simulator().state().listenAddress, std::string("127.0.0.42"));
  }
};

QTEST_MAIN(InetactionTest)
#include "inetaction_test.moc"
