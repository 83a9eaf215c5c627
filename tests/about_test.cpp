// The About window: its form, and the board versions it shows for each list delivered.
#include "dialogs/About.h"

#include <QLabel>
#include <QTabWidget>
#include <QtTest>

#include "device/device_text.h"
#include "device/setting_data.h"
#include "tovik16_version.h"

class AboutTest : public QObject {
  Q_OBJECT

 private:
  // Value labels in the order of the versions list (FPGA 2nd, FPGA 3rd, Lidar ID, hardware 2nd,
  // hardware 3rd, emission, receive, structure).
  static QStringList valueLabels() {
    return {"label_2ndFPGA",     "label_3ndFPGA",      "label_LidarNumber",  "label_2ndHardware",
            "label_3ndHardware", "label_emisionBoard", "label_receiveBoard", "label_structVer"};
  }
  static QStringList shownValues(const About& a) {
    QStringList values;
    for (const QString& name : valueLabels()) {
      auto* l = a.findChild<QLabel*>(name);
      values << (l ? l->text() : QStringLiteral("<missing %1>").arg(name));
    }
    return values;
  }

 private slots:
  void formMatchesTheWindow() {
    About a;
    QCOMPARE(a.windowTitle(), QStringLiteral("About"));
    QCOMPARE(a.size(), QSize(553, 300));
    QVERIFY(!a.testAttribute(Qt::WA_QuitOnClose));
    auto* tabs = a.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    QVERIFY(tabs != nullptr);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Software"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Hardware"));
    QCOMPARE(a.findChild<QLabel*>(QStringLiteral("label"))->text(),
             QString::fromUtf8(" Tovik16 ：System32-Version v3.0.7＿20210311"));
    // The build's version and git revision, as --version prints them (#13).
    QCOMPARE(a.findChild<QLabel*>(QStringLiteral("label_buildVersion"))->text(),
             QStringLiteral(" Tovik16 Studio %1 (git %2)")
                 .arg(tovik::kProjectVersion, tovik::kGitRevision));
    const struct {
      const char* name;
      const char* text;
    } captions[] = {
        {"label_5", "  Lidar ID:"},
        {"label_4", "  FPGA 3rd board version:"},
        {"label_7", "  FPGA 2nd board version:"},
        {"label_13", "  Emission board version:"},
        {"label_9", "  Hardware 2nd board version:"},
        {"label_15", "  Receive board version:"},
        {"label_11", "  Hardware 3rd board version:"},
        {"label_17", "  Structure version:"},
    };
    for (const auto& c : captions) {
      auto* l = a.findChild<QLabel*>(QString::fromLatin1(c.name));
      QVERIFY2(l != nullptr, c.name);
      QCOMPARE(l->text(), QString::fromLatin1(c.text));
    }
    // Nothing is shown before the first delivery.
    for (const QString& v : shownValues(a)) QVERIFY(v.isEmpty());
  }

  void versionsFromADeviceRecordLandInTheirLabels() {
    SettingData s;
    s.fpga2Version[0] = 3;
    s.fpga2Version[1] = 0x25;
    const uint8_t fpga3[6] = {20, 21, 3, 11, 3, 0x07};
    std::copy(fpga3, fpga3 + 6, s.fpga3Version);
    s.lidarId[0] = 'A';
    s.lidarId[1] = 'B';
    s.lidarId[2] = 'C';
    const uint8_t boards[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::copy(boards, boards + 10, s.boardVersions);
    About a;
    a.sSetVersion(tovik::deviceVersions(s));
    const QString id = QStringLiteral("ABC") + QString(17, QChar(0));
    QCOMPARE(shownValues(a), (QStringList{"V3.2.5", "2021.3.11-V.3.0.7", id, "V1.2", "V3.4", "V5.6",
                                          "V7.8", "V9.10"}));
  }

  void eachDeliveryReplacesEveryValue() {
    About a;
    a.sSetVersion({"a0", "a1", "a2", "a3", "a4", "a5", "a6", "a7"});
    a.sSetVersion({"b0", "b1", "b2", "b3", "b4", "b5", "b6", "b7", "extra"});
    QCOMPARE(shownValues(a), (QStringList{"b0", "b1", "b2", "b3", "b4", "b5", "b6", "b7"}));
    QCOMPARE(a.versions().size(), 8);
    // A short list cannot fill the eight rows and is ignored.
    a.sSetVersion({"c0", "c1"});
    QCOMPARE(shownValues(a).at(0), QStringLiteral("b0"));
  }
};

QTEST_MAIN(AboutTest)
#include "about_test.moc"
