// The advanced settings window: form, status read-outs, the Refresh / Set / Save / Restore
// flows with their boxes (capture replaced by a stub, datagrams received on loopback), and end
// to end against the simulated lidar with a real capture on lo (root only).
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <sstream>
#include <thread>

#include "acquisition/udp_socket.h"
#include "device/GetSet.h"
#include "dialogs/ACWPSettingWidget.h"
#include "loopback_sim.h"
#include "tools/sim/sim_runner.h"

namespace {

// Answers every modal box and file dialog as it appears and keeps what they said.
class BoxAnswerer : public QObject {
 public:
  struct Box {
    QString title;
    QString text;
    bool parented;
  };
  QList<Box> boxes;
  QMessageBox::StandardButton answer = QMessageBox::Ok;
  QString saveAs;           // the save dialog's answer; empty cancels it
  QStringList fileDialogs;  // "caption|filter" of each save dialog asked
  // Stands in for the modal save dialog.
  QString askSaveName(QWidget*, const QString& caption, const QString& filter) {
    fileDialogs << caption + "|" + filter;
    return saveAs;
  }

  BoxAnswerer() {
    connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::poll);
    timer_.start(20);
  }
  QString titles() const {
    QStringList t;
    for (const Box& b : boxes) t << b.title + "/" + b.text;
    return t.join(" | ");
  }

 private:
  void poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      boxes.append({box->windowTitle(), box->text(), box->parentWidget() != nullptr});
      QAbstractButton* b = box->button(answer);
      if (b == nullptr) b = box->button(QMessageBox::Ok);
      if (b != nullptr)
        b->click();
      else
        box->reject();
    }
  }
  QTimer timer_;
};

// A UDP receiver on 127.0.0.1 that the window's datagrams are addressed to.
struct Receiver {
  tovik::net::UdpSocket socket;
  quint16 port = 0;
  Receiver() {
    if (socket.open() && socket.bind("127.0.0.1", 0) && socket.setReceiveTimeout(300))
      port = socket.localEndpoint().port;
  }
  // The next datagram, empty when none arrives within the time-out.
  QByteArray next() {
    uint8_t buf[2048];
    size_t n = 0;
    if (socket.receive(buf, sizeof buf, &n) != tovik::net::RecvStatus::Ok) return {};
    return QByteArray(reinterpret_cast<const char*>(buf), int(n));
  }
};

std::vector<int> statusVector() {
  std::vector<int> mac(tovik::kMacVectorSize, 0);
  mac[tovik::kMacDevicePort] = 2369;
  mac[tovik::kMacRange] = 15050;
  mac[tovik::kMacTailThreshold] = 3;
  mac[tovik::kMacTailDistance] = 40;
  mac[tovik::kMacZeroPosition] = 1;
  mac[tovik::kMacEchoMode] = 1;
  mac[tovik::kMacHorizontalOffset] = 65534;  // -0.01 degree
  mac[tovik::kMacEncoderZero] = 123;
  mac[tovik::kMacBoard2HighVoltage] = 1000;
  mac[tovik::kMacBoard2HighVoltageAdjust] = 65534;  // -1
  mac[tovik::kMacBoard2Threshold] = 5;
  return mac;
}

SettingData statusRecord() {
  SettingData s;
  s.motorSpeed = 1200;
  s.motorState = 1;
  s.fpga2Version[0] = 3;
  s.fpga2Version[1] = 0x05;
  const uint8_t fpga3[6] = {20, 21, 3, 11, 3, 0x07};
  std::memcpy(s.fpga3Version, fpga3, 6);
  return s;
}

}  // namespace

class AcwpWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<ACWPSettingWidget> w_;
  std::vector<tovik::DevicePacketCaptureOptions> captures_;
  tovik::DevicePacketCaptureResult nextCapture_;
  std::deque<tovik::DevicePacketCaptureResult> queued_;  // answered before nextCapture_

  template <typename T>
  T* child(const char* name) const {
    T* c = w_->findChild<T*>(QString::fromLatin1(name));
    if (c == nullptr) qWarning("no child %s", name);
    return c;
  }
  QLineEdit* edit(const char* name) const { return child<QLineEdit>(name); }
  void click(const char* name) { child<QPushButton>(name)->click(); }

  // A captured device packet from 127.0.0.1:port, with marks in carried bytes.
  static tovik::DevicePacketCaptureResult matched(quint16 port) {
    tovik::DevicePacketCaptureResult r;
    r.outcome = tovik::CaptureOutcome::Matched;
    std::memcpy(r.packet.payload.data(), tovik::kDeviceHeader, 8);
    r.packet.payload[18] = 0x11;   // MAC, carried
    r.packet.payload[194] = 0x12;  // encoder zero, carried when the field is empty
    r.packet.payload[195] = 0x34;
    r.packet.payload[600] = 0x77;
    r.packet.sourceIp = {127, 0, 0, 1};
    r.packet.destIp = {127, 0, 0, 1};
    r.packet.sourcePort = port;
    return r;
  }
  void useSaveAnswer(BoxAnswerer* answerer) {
    w_->setSaveNameFunction(
        [answerer](QWidget* parent, const QString& caption, const QString& filter) {
          return answerer->askSaveName(parent, caption, filter);
        });
  }
  void deliverStatus() {
    SettingData s = statusRecord();
    w_->onLidarStatusReceiving(&s, statusVector());
  }
  // Status delivered and Refresh pressed with a capture that matches.
  void refreshWith(quint16 port) {
    deliverStatus();
    nextCapture_ = matched(port);
    BoxAnswerer boxes;
    click("pushButton_Refreshlidar");
    QVERIFY(w_->refreshed());
  }

 private slots:
  void init() {
    w_ = std::make_unique<ACWPSettingWidget>();
    captures_.clear();
    nextCapture_ = {};
    queued_.clear();
    w_->setCaptureFunction([this](const tovik::DevicePacketCaptureOptions& o) {
      captures_.push_back(o);
      if (queued_.empty()) return nextCapture_;
      const tovik::DevicePacketCaptureResult r = queued_.front();
      queued_.pop_front();
      return r;
    });
  }
  void cleanup() { w_.reset(); }

  void formAsDescribed() {
    QCOMPARE(w_->windowTitle(), QStringLiteral("ACWPSet"));
    QCOMPARE(w_->size(), QSize(586, 500));
    QVERIFY(!w_->testAttribute(Qt::WA_QuitOnClose));
    QCOMPARE(child<QGroupBox>("groupBox")->title(), QStringLiteral("Version Num"));
    const std::pair<const char*, const char*> labels[] = {
        {"label_SingleOrDouble", "单双回波："},
        {"label_12", "零度位置:"},
        {"label_16", "消拖尾距离(cm)："},
        {"label_15", "消拖尾阈值："},
        {"label_11", "测量量程："},
        {"label_deviationAngle", "水平偏移角度："},
        {"label__MaPanAngle", "码盘零度校准："},
        {"label_rotateSpeed", "电机转速(RPM)："},
        {"label", "2号板高压值："},
        {"label_2", "2号板高压调节值："},
        {"label_3", "2号板阈值调节值："},
        {"label_SerialNumber", "Serial Num："},
        {"label_VersionNumber", "固件版本："},
        {"label_Board_4", "2号版版本："},
        {"label_Board_3", "3号版版本："},
        {"label_rangeselector_2", "Dest IP："},
        {"label_rangeselector_3", "Dest Port："}};
    for (const auto& [name, text] : labels)
      QCOMPARE(child<QLabel>(name)->text(), QString::fromUtf8(text));
    const std::pair<const char*, const char*> buttons[] = {
        {"pushButton_SaveSettingfile", "Save set file"},
        {"pushButton_RecoverSetting", "Restore Laser set"},
        {"pushButton_Refreshlidar", "Refresh state"},
        {"pushButton_OK", "Set"},
        {"pushButton_Cancel", "Cancel"}};
    for (const auto& [name, text] : buttons)
      QCOMPARE(child<QPushButton>(name)->text(), QString::fromUtf8(text));
    auto items = [this](const char* name) {
      QStringList l;
      auto* c = child<QComboBox>(name);
      for (int i = 0; i < c->count(); ++i) l << c->itemText(i);
      return l;
    };
    QCOMPARE(items("comboBox_SingleOrDouble"),
             QStringList({QString::fromUtf8("单回波"), QString::fromUtf8("双回波")}));
    QCOMPARE(items("comboBox_Zero_degree_position"),
             QStringList({QString::fromUtf8("线端为0°"), QString::fromUtf8("正前方为0°")}));
    QCOMPARE(items("comboBox_rotateSpeed"), QStringList({" 5 HZ", " 10 HZ", " 20 HZ"}));
    QVERIFY(!child<QPushButton>("pushButton_OK")->isEnabled());
    for (const char* hidden :
         {"label_SerialNumber", "lineEdit_SerialNumber", "label_VersionNumber", "lineEdit_Version"})
      QVERIFY2(child<QWidget>(hidden)->isHidden(), hidden);
    for (const char* ro :
         {"lineEdit_board2HV", "lineEdit_board2HV_adjust", "lineEdit_board2HV_sill"})
      QVERIFY2(edit(ro)->isReadOnly(), ro);
    QCOMPARE(edit("lineEdit_DestIP")->text(), QStringLiteral("192.168.1.200"));
    QCOMPARE(edit("lineEdit_DestPort")->text(), QStringLiteral("2368"));
    for (QLineEdit* e : w_->findChildren<QLineEdit*>()) QVERIFY(e->validator() == nullptr);
  }

  void statusShowsBoard2Readings() {
    deliverStatus();
    QCOMPARE(w_->recordsReceived(), 1);
    QCOMPARE(edit("lineEdit_board2HV")->text(),
             QString::number(double(float((13180.2 - 1000 * 3.25) / 40.5504)), 'g', 6));
    QCOMPARE(edit("lineEdit_board2HV_adjust")->text(), QStringLiteral("-1"));
    QCOMPARE(edit("lineEdit_board2HV_sill")->text(), QStringLiteral("5"));
    // Other FPGA versions use the other formula.
    SettingData s = statusRecord();
    s.fpga2Version[1] = 0x15;
    w_->onLidarStatusReceiving(&s, statusVector());
    QCOMPARE(edit("lineEdit_board2HV")->text(),
             QString::number(double(float((13394 - 1000 * 2.5) / 52.56 - 3.27)), 'g', 6));
    w_->onLidarStatusReceiving(nullptr, statusVector());  // ignored
    QCOMPARE(w_->recordsReceived(), 2);
  }

  void cleanEmptiesSerialAndVersion() {
    edit("lineEdit_SerialNumber")->setText("x");
    edit("lineEdit_Version")->setText("y");
    w_->onCleanACWPControl();
    QVERIFY(edit("lineEdit_SerialNumber")->text().isEmpty());
    QVERIFY(edit("lineEdit_Version")->text().isEmpty());
  }

  void refreshBeforeStatusRefuses() {
    BoxAnswerer boxes;
    click("pushButton_Refreshlidar");
    QCOMPARE(boxes.titles(), QString::fromUtf8("error/设备包端口错误请检查!"));
    QVERIFY(captures_.empty());
    QVERIFY(!w_->refreshed());
    QVERIFY(!child<QPushButton>("pushButton_OK")->isEnabled());
  }

  void refreshFillsFields() {
    refreshWith(tovik::test::freeUdpPort());
    QCOMPARE(captures_.size(), size_t(1));
    QCOMPARE(captures_[0].frameLimit, 1000);
    QVERIFY(!captures_[0].requireDeviceHeader);  // any full frame ends a refresh
    QCOMPARE(captures_[0].port, quint16(2369));  // the device port of the status
    QCOMPARE(captures_[0].routeAddress, std::string("192.168.1.200"));
    QCOMPARE(edit("lineEdit_21")->text(), QStringLiteral("150.5"));
    QCOMPARE(edit("lineEdit_22")->text(), QStringLiteral("150.5"));
    QVERIFY(!edit("lineEdit_22")->isEnabled());
    QCOMPARE(edit("lineEdit_tw")->text(), QStringLiteral("3"));
    QCOMPARE(edit("lineEdit_twjl")->text(), QStringLiteral("40"));
    QCOMPARE(child<QComboBox>("comboBox_Zero_degree_position")->currentIndex(), 1);
    QCOMPARE(child<QComboBox>("comboBox_SingleOrDouble")->currentIndex(), 1);
    QCOMPARE(edit("lineEdit_deviationAngle")->text(), QStringLiteral("-0.01"));
    QCOMPARE(edit("lineEdit_MaPanAngle")->text(), QStringLiteral("1.23"));
    QCOMPARE(edit("lineEdit_Board_2")->text(), QStringLiteral("V3.0.5"));
    QCOMPARE(edit("lineEdit_Board_3")->text(), QStringLiteral("2021.3.11-V.3.0.7"));
    QCOMPARE(child<QComboBox>("comboBox_rotateSpeed")->currentIndex(), 2);
    QVERIFY(child<QPushButton>("pushButton_OK")->isEnabled());
  }

  void refreshBoxAndOddValues() {
    deliverStatus();
    std::vector<int> mac = statusVector();
    mac[tovik::kMacZeroPosition] = 7;  // not 0 or 1: combo stays
    mac[tovik::kMacEchoMode] = 2;
    SettingData s = statusRecord();
    s.motorSpeed = 900;  // no speed step: combo stays
    w_->onLidarStatusReceiving(&s, mac);
    child<QComboBox>("comboBox_rotateSpeed")->setCurrentIndex(1);
    nextCapture_ = matched(1);
    BoxAnswerer boxes;
    click("pushButton_Refreshlidar");
    QCOMPARE(boxes.titles(), QStringLiteral("Tips/Resresh completed"));
    QCOMPARE(child<QComboBox>("comboBox_rotateSpeed")->currentIndex(), 1);
    QCOMPARE(child<QComboBox>("comboBox_Zero_degree_position")->currentIndex(), 0);
    QCOMPARE(child<QComboBox>("comboBox_SingleOrDouble")->currentIndex(), 0);
  }

  // No traffic: the not-connected box (no parent), fields unchanged, Set still enabled.
  void refreshWithoutTraffic() {
    deliverStatus();
    nextCapture_.outcome = tovik::CaptureOutcome::NoMatch;
    BoxAnswerer boxes;
    click("pushButton_Refreshlidar");
    QCOMPARE(boxes.titles(), QStringLiteral("warring/You didn't connect Lidar."));
    QVERIFY(!boxes.boxes[0].parented);
    QVERIFY(edit("lineEdit_21")->text().isEmpty());
    QVERIFY(w_->refreshed());
    QVERIFY(child<QPushButton>("pushButton_OK")->isEnabled());
  }

  void setNeedsRefreshAfterShow() {
    Receiver rx;
    refreshWith(rx.port);
    w_->showWindow();  // showing again clears the flag
    QVERIFY(!w_->refreshed());
    BoxAnswerer boxes;
    click("pushButton_OK");
    QCOMPARE(boxes.titles(), QString::fromUtf8("error/请先刷新数据否则再进行设置!"));
    QVERIFY(rx.next().isEmpty());
    w_->hide();
  }

  void setSendsFieldsToCapturedSource() {
    Receiver rx;
    refreshWith(rx.port);
    edit("lineEdit_21")->setText("150.5");
    edit("lineEdit_deviationAngle")->setText("-0.01");
    edit("lineEdit_MaPanAngle")->setText("");
    child<QComboBox>("comboBox_rotateSpeed")->setCurrentIndex(2);
    BoxAnswerer boxes;
    click("pushButton_OK");
    QCOMPARE(boxes.titles(), QStringLiteral("Tips/Setup completed"));
    QCOMPARE(captures_.back().frameLimit, 3000);
    QVERIFY(captures_.back().requireDeviceHeader);
    const QByteArray d = rx.next();
    QCOMPARE(d.size(), 1206);
    const auto* p = reinterpret_cast<const uint8_t*>(d.constData());
    const uint8_t header[8] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xBB, 0xBB};
    QVERIFY(std::memcmp(p, header, 8) == 0);
    QCOMPARE(tovik::readU16BE(p + 8), uint16_t(1200));
    QCOMPARE(tovik::readU16BE(p + 40), uint16_t(1));  // the recorded Stop
    QCOMPARE(tovik::readU16BE(p + 178), uint16_t(15050));
    QCOMPARE(tovik::readU16BE(p + 180), uint16_t(3));
    QCOMPARE(tovik::readU16BE(p + 182), uint16_t(40));
    QCOMPARE(int(p[184]), 1);
    QCOMPARE(int(p[185]), 1);
    QCOMPARE(tovik::readU16BE(p + 186), uint16_t(0xFFFE));
    QCOMPARE(tovik::readU16BE(p + 194), uint16_t(0x1234));  // empty field: carried
    QCOMPARE(int(p[18]), 0x11);
    QCOMPARE(int(p[600]), 0x77);
    QCOMPARE(int(p[1204]), 0x0F);
    QCOMPARE(int(p[1205]), 0xF0);
    QVERIFY(!w_->refreshed());  // a set clears the flag
  }

  // The stops before sending keep the flag; a zero tail asks, Cancel stops, OK sends.
  void setStops_data() {
    QTest::addColumn<QString>("offset");
    QTest::addColumn<QString>("range");
    QTest::addColumn<QString>("tail");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("boxes");
    QTest::addColumn<bool>("sent");
    QTest::newRow("offset empty") << ""
                                  << "200"
                                  << "3" << false << QString::fromUtf8("error/请输入水平偏移角度!")
                                  << false;
    QTest::newRow("range empty") << "1"
                                 << ""
                                 << "3" << false << QString::fromUtf8("error/请输入量程!") << false;
    QTest::newRow("range not a number")
        << "1"
        << "abc"
        << "3" << false
        << QString::fromUtf8("error/测量量程: \"abc\" is not a number. Nothing was sent.") << false;
    QTest::newRow("tail zero, cancel")
        << "1"
        << "200"
        << "0" << true << QString::fromUtf8("error/拖尾数据为0,或拖尾距离为0?") << false;
    QTest::newRow("tail zero, ok")
        << "1"
        << "200"
        << "0" << false
        << QString::fromUtf8("error/拖尾数据为0,或拖尾距离为0? | Tips/Setup completed") << true;
  }
  void setStops() {
    QFETCH(QString, offset);
    QFETCH(QString, range);
    QFETCH(QString, tail);
    QFETCH(bool, cancel);
    QFETCH(QString, boxes);
    QFETCH(bool, sent);
    Receiver rx;
    refreshWith(rx.port);
    edit("lineEdit_deviationAngle")->setText(offset);
    edit("lineEdit_21")->setText(range);
    edit("lineEdit_tw")->setText(tail);
    BoxAnswerer answerer;
    if (cancel) answerer.answer = QMessageBox::Cancel;
    click("pushButton_OK");
    QCOMPARE(answerer.titles(), boxes);
    QCOMPARE(!rx.next().isEmpty(), sent);
    QCOMPARE(w_->refreshed(), !sent);
  }

  // Issue 9: a value that is not a number or does not fit its field's bytes is refused with a
  // box naming the field; nothing is captured or sent, and nothing goes out as 0.
  void setRefusesFieldsThatDoNotFit_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::newRow("range 700 m") << "lineEdit_21"
                                 << "700"
                                 << "测量量程";
    QTest::newRow("range negative") << "lineEdit_21"
                                    << "-1"
                                    << "测量量程";
    QTest::newRow("threshold 70000") << "lineEdit_tw"
                                     << "70000"
                                     << "消拖尾阈值";
    QTest::newRow("threshold empty") << "lineEdit_tw"
                                     << ""
                                     << "消拖尾阈值";
    QTest::newRow("distance negative") << "lineEdit_twjl"
                                       << "-5"
                                       << "消拖尾距离(cm)";
    QTest::newRow("distance not a number") << "lineEdit_twjl"
                                           << "4o"
                                           << "消拖尾距离(cm)";
    QTest::newRow("offset 700") << "lineEdit_deviationAngle"
                                << "700"
                                << "水平偏移角度";
    QTest::newRow("encoder not a number") << "lineEdit_MaPanAngle"
                                          << "x"
                                          << "码盘零度校准";
    QTest::newRow("encoder 400") << "lineEdit_MaPanAngle"
                                 << "400"
                                 << "码盘零度校准";
  }
  void setRefusesFieldsThatDoNotFit() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, name);
    Receiver rx;
    refreshWith(rx.port);
    edit(field.toLatin1().constData())->setText(text);
    BoxAnswerer boxes;
    click("pushButton_OK");
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("error"));
    QVERIFY2(boxes.boxes[0].text.startsWith(name), qPrintable(boxes.titles()));
    QVERIFY(rx.next().isEmpty());
    QCOMPARE(captures_.size(), size_t(1));  // the refresh's only
    QVERIFY(w_->refreshed());
  }

  // Issue 9: with several lidars sending, Set answers the one the main window is connected to,
  // even when another one's device packet is captured first, and never answers another one.
  void setPrefersTheConnectedLidar() {
    Receiver rx, otherRx;
    refreshWith(rx.port);
    w_->setPreferredLidarAddress("127.0.0.1");
    tovik::DevicePacketCaptureResult other = matched(otherRx.port);
    other.packet.sourceIp = {127, 0, 0, 3};
    other.packet.payload[600] = 0x33;
    queued_ = {other, matched(rx.port)};
    BoxAnswerer boxes;
    click("pushButton_OK");
    QCOMPARE(boxes.titles(), QStringLiteral("Tips/Setup completed"));
    const QByteArray d = rx.next();
    QCOMPARE(d.size(), 1206);
    QCOMPARE(int(uint8_t(d[600])), 0x77);  // built from the preferred lidar's packet
    QCOMPARE(captures_.back().routeAddress, std::string("127.0.0.1"));

    other.packet.sourceIp = {127, 0, 0, 1};  // so that a datagram to it would arrive
    other.packet.payload[10] = 127;          // but it reports another address
    other.packet.payload[13] = 3;
    refreshWith(rx.port);
    w_->setPreferredLidarAddress("127.0.0.2");
    queued_ = {other, other};
    nextCapture_.outcome = tovik::CaptureOutcome::NoMatch;  // then nothing
    boxes.boxes.clear();
    click("pushButton_OK");
    QCOMPARE(boxes.boxes.size(), 1);
    QVERIFY2(boxes.boxes[0].text.contains("127.0.0.2"), qPrintable(boxes.titles()));
    QVERIFY(otherRx.next().isEmpty());
    QVERIFY(rx.next().isEmpty());
  }

  void setWithoutDevicePacket() {
    Receiver rx;
    refreshWith(rx.port);
    nextCapture_.outcome = tovik::CaptureOutcome::NoMatch;
    BoxAnswerer boxes;
    click("pushButton_OK");
    QCOMPARE(boxes.titles(), QStringLiteral("warring/You didn't connect Lidar."));
    QVERIFY(rx.next().isEmpty());
    QVERIFY(!w_->refreshed());
  }

  void adapterFailuresAreReported_data() {
    QTest::addColumn<int>("outcome");
    QTest::newRow("no adapter") << int(tovik::CaptureOutcome::NoAdapter);
    QTest::newRow("open failed") << int(tovik::CaptureOutcome::OpenFailed);
  }
  void adapterFailuresAreReported() {
    QFETCH(int, outcome);
    Receiver rx;
    refreshWith(rx.port);
    nextCapture_.outcome = tovik::CaptureOutcome(outcome);
    nextCapture_.error = "permission denied";
    QTemporaryDir dir;
    BoxAnswerer boxes;
    boxes.saveAs = dir.filePath("never.ini");
    useSaveAnswer(&boxes);
    click("pushButton_OK");
    click("pushButton_SaveSettingfile");
    QCOMPARE(boxes.boxes.size(), 2);
    for (const auto& b : boxes.boxes) {
      QCOMPARE(b.title, QStringLiteral("error"));
      QVERIFY2(b.text.contains("permission denied"), qPrintable(b.text));
    }
    QVERIFY(rx.next().isEmpty());
    QVERIFY(boxes.fileDialogs.isEmpty());
    QVERIFY(!QFile::exists(boxes.saveAs));
  }

  // A send that fails is reported, never as completed.
  void setSendFailureReported() {
    refreshWith(0);  // captured source port 0 cannot be sent to
    BoxAnswerer boxes;
    click("pushButton_OK");
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("error"));
    QVERIFY2(boxes.boxes[0].text.contains("127.0.0.1:0"), qPrintable(boxes.titles()));
  }

  void saveWritesCapturedPacket() {
    nextCapture_ = matched(1);
    QTemporaryDir dir;
    BoxAnswerer boxes;
    boxes.saveAs = dir.filePath("device.ini");
    useSaveAnswer(&boxes);
    click("pushButton_SaveSettingfile");
    QCOMPARE(boxes.fileDialogs, QStringList("WireSharkCaptureFile|Supported Files (*.ini)"));
    QVERIFY2(boxes.boxes.isEmpty(), qPrintable(boxes.titles()));
    QFile f(boxes.saveAs);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QCOMPARE(text.size(), 3618);
    QVERIFY(text.startsWith("a5 ff 00 5a 11 11 55 55 "));
    QCOMPARE(text.mid(600 * 3, 3), QByteArray("77 "));
    QVERIFY(captures_.back().requireDeviceHeader);
  }

  void saveFailures_data() {
    QTest::addColumn<bool>("captured");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("boxes");
    QTest::addColumn<int>("dialogs");
    QTest::newRow("no device packet")
        << false << "x.ini" << QString::fromUtf8("error/抓包失败,请设置发包间隔为0!") << 0;
    QTest::newRow("dialog cancelled") << true << "" << QString() << 1;
    // The regression: the write went on after the error box.
    // A link into a missing directory: the dialog takes the name, opening it fails.
    QTest::newRow("cannot open") << true << "dangling.ini"
                                 << QString::fromUtf8("error/打开文件失败,请检查!") << 1;
  }
  void saveFailures() {
    QFETCH(bool, captured);
    QFETCH(QString, path);
    QFETCH(QString, boxes);
    QFETCH(int, dialogs);
    if (captured) nextCapture_ = matched(1);
    QTemporaryDir dir;
    const QString target = dir.filePath(path);
    QVERIFY(QFile::link(dir.filePath("missing/x.ini"), dir.filePath("dangling.ini")));
    BoxAnswerer answerer;
    if (!path.isEmpty()) answerer.saveAs = target;
    useSaveAnswer(&answerer);
    click("pushButton_SaveSettingfile");
    QCOMPARE(answerer.titles(), boxes);
    QCOMPARE(answerer.fileDialogs.size(), dialogs);
  }

  // Restore sends the factory packet to the typed address and port, also above 32767.
  void restoreSendsFactoryDefaults() {
    Receiver rx;
    QVERIFY(rx.port > 32767);  // the kernel's ephemeral ports all lie above
    edit("lineEdit_DestIP")->setText("127.0.0.1");
    edit("lineEdit_DestPort")->setText(QString::number(rx.port));
    BoxAnswerer boxes;
    click("pushButton_RecoverSetting");
    QCOMPARE(boxes.titles(), QStringLiteral("Tips/Reset completed !"));
    const QByteArray d = rx.next();
    QCOMPARE(d.size(), 1206);
    const auto* p = reinterpret_cast<const uint8_t*>(d.constData());
    const uint8_t head[28] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22, 0xAA, 0xAA, 0x01, 0x2C,
                              0xC0, 0xA8, 0x01, 0xC8, 0xC0, 0xA8, 0x01, 0x66, 0,    0,
                              0,    0,    0,    0,    0x09, 0x40, 0x09, 0x41};
    QVERIFY(std::memcmp(p, head, 28) == 0);
    QCOMPARE(int(p[52]), QDate::currentDate().year() - 2000);
    QVERIFY(captures_.empty());  // no capture, no refresh needed
  }

  void restoreRefusesBadTarget_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::newRow("port 0") << "127.0.0.1"
                            << "0";
    QTest::newRow("port too large") << "127.0.0.1"
                                    << "70000";
    QTest::newRow("port text") << "127.0.0.1"
                               << "abc";
    QTest::newRow("address") << "127.0.0"
                             << "2368";
  }
  void restoreRefusesBadTarget() {
    QFETCH(QString, address);
    QFETCH(QString, port);
    edit("lineEdit_DestIP")->setText(address);
    edit("lineEdit_DestPort")->setText(port);
    BoxAnswerer boxes;
    click("pushButton_RecoverSetting");
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("error"));
  }

  void cancelCloses() {
    w_->showWindow();
    QVERIFY(w_->isVisible());
    click("pushButton_Cancel");
    QVERIFY(!w_->isVisible());
  }

  // Against the simulated lidar on 127.0.0.2, with the real capture on lo: Set changes the
  // device and the next device packet shows it; Set again without edits changes nothing;
  // Restore returns the device to its factory state.
  void endToEndWithSimulator() {
    if (geteuid() != 0) QSKIP("capturing on lo needs root (CAP_NET_RAW)");
    w_->setCaptureFunction(&tovik::captureDevicePacket);
    tovik::sim::RunOptions o =
        tovik::test::loopbackSimulator(tovik::test::freeUdpPort(), tovik::test::freeUdpPort());
    o.durationS = 60;
    tovik::test::SimulatedLidar lidar(o);
    std::string error;
    QVERIFY2(lidar.start(&error), error.c_str());

    registerDeviceMetaTypes();
    GetSet getSet;
    getSet.port = o.sim.devicePort;
    connect(&getSet, &GetSet::SendLidarStatusToSettingUI, w_.get(),
            &ACWPSettingWidget::onLidarStatusReceiving, Qt::UniqueConnection);
    getSet.start();
    struct StopGetSet {
      GetSet& g;
      ~StopGetSet() {
        g.stopRequested = true;
        g.wait();
      }
    } stopGetSet{getSet};
    QTRY_VERIFY_WITH_TIMEOUT(w_->recordsReceived() > 0, 5000);
    QCOMPARE(w_->captureOptions(true).port, o.sim.devicePort);
    QCOMPARE(w_->captureOptions(true).routeAddress, std::string("127.0.0.2"));

    BoxAnswerer boxes;
    click("pushButton_Refreshlidar");
    QCOMPARE(boxes.titles(), QStringLiteral("Tips/Resresh completed"));
    QCOMPARE(edit("lineEdit_21")->text(), QStringLiteral("200"));  // the device's 200 m
    edit("lineEdit_21")->setText("150.5");
    edit("lineEdit_tw")->setText("3");
    edit("lineEdit_twjl")->setText("40");
    edit("lineEdit_deviationAngle")->setText("-0.01");
    edit("lineEdit_MaPanAngle")->setText("-1.5");
    child<QComboBox>("comboBox_SingleOrDouble")->setCurrentIndex(1);
    child<QComboBox>("comboBox_Zero_degree_position")->setCurrentIndex(1);
    child<QComboBox>("comboBox_rotateSpeed")->setCurrentIndex(2);
    boxes.boxes.clear();
    click("pushButton_OK");
    QCOMPARE(boxes.titles(), QStringLiteral("Tips/Setup completed"));

    // Wait for a record sent after the simulator applied the change, then read it back.
    QTRY_VERIFY_WITH_TIMEOUT(lidar.logged("advanced settings"), 5000);
    const int before = w_->recordsReceived();
    QTRY_VERIFY_WITH_TIMEOUT(w_->recordsReceived() >= before + 2, 5000);
    boxes.boxes.clear();
    click("pushButton_Refreshlidar");
    QCOMPARE(boxes.titles(), QStringLiteral("Tips/Resresh completed"));
    QCOMPARE(edit("lineEdit_21")->text(), QStringLiteral("150.5"));
    QCOMPARE(edit("lineEdit_tw")->text(), QStringLiteral("3"));
    QCOMPARE(edit("lineEdit_twjl")->text(), QStringLiteral("40"));
    QCOMPARE(edit("lineEdit_deviationAngle")->text(), QStringLiteral("-0.01"));
    QCOMPARE(edit("lineEdit_MaPanAngle")->text(), QStringLiteral("-1.5"));
    QCOMPARE(child<QComboBox>("comboBox_SingleOrDouble")->currentIndex(), 1);
    QCOMPARE(child<QComboBox>("comboBox_Zero_degree_position")->currentIndex(), 1);
    QCOMPARE(child<QComboBox>("comboBox_rotateSpeed")->currentIndex(), 2);

    // Refresh then Set without edits sends the same values back.
    boxes.boxes.clear();
    click("pushButton_OK");
    QCOMPARE(boxes.titles(), QStringLiteral("Tips/Setup completed"));

    // Factory defaults to the device's own port (an ephemeral port, above 32767).
    const quint16 devicePort = lidar.runner().deviceSourcePort();
    QVERIFY(devicePort > 32767);
    edit("lineEdit_DestIP")->setText("127.0.0.2");
    edit("lineEdit_DestPort")->setText(QString::number(devicePort));
    boxes.boxes.clear();
    click("pushButton_RecoverSetting");
    QCOMPARE(boxes.titles(), QStringLiteral("Tips/Reset completed !"));
    // The simulator applies datagrams between its sends, whenever its thread gets to them.
    QTRY_VERIFY_WITH_TIMEOUT(lidar.logged("factory defaults"), 5000);
    lidar.stop();

    const std::string applied = lidar.log();
    QVERIFY2(applied.find("advanced settings") != std::string::npos, applied.c_str());
    QVERIFY2(applied.find("factory defaults") != std::string::npos, applied.c_str());
    // The second Set changed nothing.
    QVERIFY2(applied.find("advanced settings: no change") != std::string::npos, applied.c_str());
    const tovik::sim::SimState& s = lidar.runner().simulator().state();
    const tovik::sim::SimState factory = tovik::sim::initialState(o.sim);
    QCOMPARE(s.rangeX100, factory.rangeX100);
    QCOMPARE(s.horizontalOffsetRaw, factory.horizontalOffsetRaw);
    QCOMPARE(s.encoderZeroRaw, factory.encoderZeroRaw);
    QCOMPARE(s.dualReturn, false);
    QCOMPARE(s.rpm, uint16_t(300));  // the factory packet's speed
  }
};

QTEST_MAIN(AcwpWindowTest)
#include "acwp_window_test.moc"
