// The small windows (SelectLidar, SetLidarModes, Form_QLaserSelection) and the icon set: forms,
// slots, signals, the message box, and every icon the forms compile in or load at run time.
//
// Set TOVIK_SCREENSHOT_DIR to also save a grab of each window there.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <array>
#include <memory>

#include "acquisition/SelectLidar.h"
#include "acquisition/SetLidarModes.h"
#include "dialogs/Form_QLaserSelection.h"

namespace {

// Answers the next modal message box: records its title, text and buttons, then presses OK.
// Polls, so it works from inside the box's own event loop.
class BoxAnswerer : public QObject {
 public:
  BoxAnswerer() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      timer_.stop();
      seen = true;
      title = box->windowTitle();
      text = box->text();
      buttons = box->standardButtons();
      icon = box->icon();
      if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        ok->click();
      } else {
        box->reject();
      }
    });
    timer_.start();
  }
  bool seen = false;
  QString title, text;
  QMessageBox::StandardButtons buttons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;

 private:
  QTimer timer_;
};

template <typename T>
T* child(QWidget* window, const char* name) {
  T* w = window->findChild<T*>(QString::fromLatin1(name));
  if (w == nullptr) qWarning("no %s named %s", T::staticMetaObject.className(), name);
  return w;
}

// Clicks a check box on its indicator: the box only reacts to clicks on its indicator and text,
// and a box stretched by a layout has empty space in its middle.
void clickBox(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(8, box->height() / 2));
}

void saveScreenshot(QWidget* window, const QString& name) {
  const QString dir = qEnvironmentVariable("TOVIK_SCREENSHOT_DIR");
  if (dir.isEmpty()) return;
  window->show();
  QVERIFY(QTest::qWaitForWindowExposed(window));
  QVERIFY(window->grab().save(dir + "/" + name + ".png"));
}

// Row states of the channel window's check boxes as a 16-character string, '1' for checked.
QString boxPattern(Form_QLaserSelection* w) {
  auto* table = child<QTableWidget>(w, "tableWidget_laserselection");
  QString s;
  for (int row = 0; row < 16; ++row) {
    auto* box = qobject_cast<QCheckBox*>(table->cellWidget(row, 0));
    s += box == nullptr ? QChar('?') : (box->isChecked() ? QChar('1') : QChar('0'));
  }
  return s;
}

QString flagPattern(const Form_QLaserSelection& w) {
  QString s;
  for (int f : w.rowEnabled()) s += QString::number(f);
  return s;
}

QStringList columnTexts(Form_QLaserSelection* w, int column) {
  auto* table = child<QTableWidget>(w, "tableWidget_laserselection");
  QStringList texts;
  for (int row = 0; row < table->rowCount(); ++row) {
    QTableWidgetItem* item = table->item(row, column);
    texts << (item == nullptr ? QStringLiteral("<none>") : item->text());
  }
  return texts;
}

const QStringList kAngleTexts0 = {"-15", "-13", "-11", "-9", "-7", "-5", "-3", "-1",
                                  "1",   "3",   "5",   "7",  "9",  "11", "13", "15"};
// Row 0 of the 1.33° table reads "-10" (it was once shown as "--10").
const QStringList kAngleTexts1 = {"-10", "-8.665", "-7.33", "-6", "-4.665", "-3.33",
                                  "-2",  "-0.665", "0.665", "2",  "3.33",   "4.665",
                                  "6",   "7.33",   "8.665", "10"};
const char* const kCompiledIn[] = {"link_lidar.png",
                                   "link_lidar_broken.png",
                                   "Red.png",
                                   "LidarDataList.jpg",
                                   "Grid.png",
                                   "Coordinate.png",
                                   "select.png",
                                   "clear.png",
                                   "zhengshi.png",
                                   "fushi.png",
                                   "zuoshi.png",
                                   "OpenCaptureFile.png",
                                   "Gotostart.png",
                                   "Seekbackward.png",
                                   "Play.png",
                                   "Seekforward.png",
                                   "Gotostop.png",
                                   "Record.png",
                                   "InteractionSetUp.png",
                                   "AdvancedSetting.png",
                                   "Chanel.png",
                                   "Csv.png",
                                   "About.png",
                                   "User.png",
                                   "Develop.png",
                                   "corvane.ico"};

const QStringList kChannelTexts = {"0", "2", "4", "6", "8", "10", "12", "14",
                                   "1", "3", "5", "7", "9", "11", "13", "15"};

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  // NOLINTBEGIN(readability-identifier-naming): QtTest pairs a test with its "<name>_data" slot.
  void initTestCase();

  // SelectLidar
  void selectLidarForm();
  void selectLidarOkWithoutChoiceWarns_data();
  void selectLidarOkWithoutChoiceWarns();
  void selectLidarEmitsChosenEntry_data();
  void selectLidarEmitsChosenEntry();
  void selectLidarCloseEmitsNothing();

  // SetLidarModes
  void setLidarModesForm();
  void setLidarModesUntouchedOk();
  void setLidarModesSetConfig_data();
  void setLidarModesSetConfig();
  void setLidarModesClicksAreSilentAndExclusive();

  // Form_QLaserSelection
  void laserSelectionForm_data();
  void laserSelectionForm();
  void laserSelectionTable();
  void laserSelectionDegreeMode_data();
  void laserSelectionDegreeMode();
  void laserSelectionOkWithNothingChecked();
  void laserSelectionRowHidesItsChannel_data();
  void laserSelectionRowHidesItsChannel();
  void laserSelectionAllNoneTwice();
  void laserSelectionToggleSequence_data();
  void laserSelectionToggleSequence();
  void laserSelectionCancelKeepsFlags();
  void laserSelectionCheckstate2ChangesNothing();

  // Icons
  void compiledInIcon_data();
  void compiledInIcon();
  void runTimeIconFile_data();
  void runTimeIconFile();
  // NOLINTEND(readability-identifier-naming)
};

void DialogsTest::initTestCase() {
  // Run-time icons are loaded relative to the working directory, which is the source root when
  // the program runs from there.
  QVERIFY(QDir::setCurrent(QStringLiteral(TOVIK_SOURCE_DIR)));
}

// ---------------------------------------------------------------------------------------------
// SelectLidar

void DialogsTest::selectLidarForm() {
  SelectLidar w;
  QCOMPARE(w.windowTitle(), QStringLiteral("Sensor Configuration"));
  QCOMPARE(w.size(), QSize(280, 350));
  QCOMPARE(w.minimumSize(), QSize(280, 350));
  QCOMPARE(w.maximumSize(), QSize(280, 350));
  QVERIFY(!w.testAttribute(Qt::WA_QuitOnClose));

  auto* list = w.findChild<QListWidget*>();
  QVERIFY(list != nullptr);
  auto* frame = qobject_cast<QGroupBox*>(list->parentWidget());
  QVERIFY(frame != nullptr);
  QCOMPARE(frame->title(), QStringLiteral("Sensor Calibration"));
  QCOMPARE(list->count(), 2);
  QCOMPARE(list->item(0)->text(), QStringLiteral("Tovik16-1"));
  QCOMPARE(list->item(1)->text(), QStringLiteral("Tovik16-2"));
  QCOMPARE(list->currentRow(), -1);
  QVERIFY(list->selectedItems().isEmpty());

  QStringList buttonTexts;
  for (QPushButton* b : w.findChildren<QPushButton*>()) buttonTexts << b->text();
  buttonTexts.sort();
  QCOMPARE(buttonTexts, QStringList({"Close", "OK"}));
  saveScreenshot(&w, "SelectLidar");
}

void DialogsTest::selectLidarOkWithoutChoiceWarns_data() {
  QTest::addColumn<bool>("currentWithoutSelection");
  QTest::newRow("fresh window") << false;
  // What the list does by itself when it gains keyboard focus.
  QTest::newRow("first row current, not selected") << true;
}

void DialogsTest::selectLidarOkWithoutChoiceWarns() {
  QFETCH(bool, currentWithoutSelection);
  SelectLidar w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  auto* list = w.findChild<QListWidget*>();
  if (currentWithoutSelection) list->setCurrentRow(0, QItemSelectionModel::NoUpdate);
  QSignalSpy spy(&w, &SelectLidar::sendData);

  BoxAnswerer answer;
  child<QPushButton>(&w, "pushButton_OK")->click();

  QVERIFY(answer.seen);
  QCOMPARE(answer.title, QStringLiteral("warring"));
  QCOMPARE(answer.text, QStringLiteral("Please select sensor."));
  QCOMPARE(answer.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(answer.icon, QMessageBox::Information);
  QCOMPARE(spy.count(), 0);
  QVERIFY(w.isVisible());
}

void DialogsTest::selectLidarEmitsChosenEntry_data() {
  QTest::addColumn<int>("row");
  QTest::addColumn<QString>("expected");
  QTest::newRow("single return") << 0 << "Tovik16-1";
  QTest::newRow("dual return") << 1 << "Tovik16-2";
}

void DialogsTest::selectLidarEmitsChosenEntry() {
  QFETCH(int, row);
  QFETCH(QString, expected);
  SelectLidar w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QSignalSpy spy(&w, &SelectLidar::sendData);
  w.findChild<QListWidget*>()->setCurrentRow(row);
  child<QPushButton>(&w, "pushButton_OK")->click();
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0).at(0).toString(), expected);
  QVERIFY(!w.isVisible());
}

void DialogsTest::selectLidarCloseEmitsNothing() {
  SelectLidar w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.findChild<QListWidget*>()->setCurrentRow(1);
  QSignalSpy spy(&w, &SelectLidar::sendData);
  child<QPushButton>(&w, "pushButton_Close")->click();
  QVERIFY(!w.isVisible());
  QCOMPARE(spy.count(), 0);
}

// ---------------------------------------------------------------------------------------------
// SetLidarModes

void DialogsTest::setLidarModesForm() {
  SetLidarModes w;
  QCOMPARE(w.windowTitle(), QStringLiteral("Select Connecting Mode"));
  QCOMPARE(w.size(), QSize(500, 200));

  // Each label sits in the same grid row as its two boxes.
  auto* grid = qobject_cast<QGridLayout*>(w.layout());
  QVERIFY(grid != nullptr);
  auto rowOf = [grid](QWidget* widget) {
    int row = -1, col, rowSpan, colSpan;
    const int index = grid->indexOf(widget);
    if (index >= 0) grid->getItemPosition(index, &row, &col, &rowSpan, &colSpan);
    return row;
  };
  struct Row {
    QString label;
    QStringList boxes;
  };
  const Row rows[] = {
      {QString::fromUtf8("雷达类型："), {QString::fromUtf8("2°"), QString::fromUtf8("1.33°")}},
      {QString::fromUtf8("单双回波："), {"FirstEcho", "SecondEcho"}},
      {QString::fromUtf8("距离分辨率："), {"0.25cm", "0.4cm"}},
  };
  const QList<QLabel*> labels = w.findChildren<QLabel*>();
  const QList<QCheckBox*> boxes = w.findChildren<QCheckBox*>();
  QCOMPARE(boxes.size(), 6);
  for (const Row& r : rows) {
    QLabel* label = nullptr;
    for (QLabel* l : labels) {
      if (l->text() == r.label) label = l;
    }
    QVERIFY2(label != nullptr, qPrintable(r.label));
    for (const QString& text : r.boxes) {
      QCheckBox* box = nullptr;
      for (QCheckBox* b : boxes) {
        if (b->text() == text) box = b;
      }
      QVERIFY2(box != nullptr, qPrintable(text));
      QCOMPARE(rowOf(box), rowOf(label));
    }
  }
  QCOMPARE(child<QPushButton>(&w, "pushButton_OK")->text(), QStringLiteral("OK"));
  saveScreenshot(&w, "SetLidarModes");
}

void DialogsTest::setLidarModesUntouchedOk() {
  SetLidarModes w;
  w.show();
  QSignalSpy spy(&w, &SetLidarModes::sendConfig);
  child<QPushButton>(&w, "pushButton_OK")->click();
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0), QVariantList({QStringLiteral("Tovik161"), 0, 0}));
  QVERIFY(w.isVisible());  // OK leaves the window open
}

void DialogsTest::setLidarModesSetConfig_data() {
  QTest::addColumn<QString>("type");
  QTest::addColumn<int>("degree");
  QTest::addColumn<int>("resolution");
  QTest::addColumn<QString>("expectedType");
  QTest::addColumn<int>("expectedDegree");
  QTest::addColumn<int>("expectedResolution");
  QTest::addColumn<QStringList>("checked");
  // Every case starts from setConfig("Tovik162", 1, 1), so a row that is not clicked shows.
  QTest::newRow("dual, 1.33, 0.25") << "Tovik162" << 1 << 0 << "Tovik162" << 1 << 0
                                    << QStringList{"SecondEcho", "1.33°", "0.25cm"};
  QTest::newRow("single, 2, 0.25")
      << "Tovik161" << 0 << 0 << "Tovik161" << 0 << 0 << QStringList{"FirstEcho", "2°", "0.25cm"};
  QTest::newRow("unknown type keeps echo row")
      << "Tovik16-1" << 0 << 0 << "Tovik162" << 0 << 0 << QStringList{"SecondEcho", "2°", "0.25cm"};
  QTest::newRow("ids out of range click nothing") << "Tovik161" << 2 << -1 << "Tovik161" << 1 << 1
                                                  << QStringList{"FirstEcho", "1.33°", "0.4cm"};
}

void DialogsTest::setLidarModesSetConfig() {
  QFETCH(QString, type);
  QFETCH(int, degree);
  QFETCH(int, resolution);
  QFETCH(QString, expectedType);
  QFETCH(int, expectedDegree);
  QFETCH(int, expectedResolution);
  QFETCH(QStringList, checked);
  SetLidarModes w;
  w.setConfig(QStringLiteral("Tovik162"), 1, 1);
  QSignalSpy spy(&w, &SetLidarModes::sendConfig);
  w.setConfig(type, degree, resolution);
  QCOMPARE(spy.count(), 0);  // setConfig alone reports nothing

  QStringList checkedNow;
  for (QCheckBox* b : w.findChildren<QCheckBox*>()) {
    if (b->isChecked()) checkedNow << b->text();
  }
  checkedNow.sort();
  checked.sort();
  QCOMPARE(checkedNow, checked);

  child<QPushButton>(&w, "pushButton_OK")->click();
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0), QVariantList({expectedType, expectedDegree, expectedResolution}));
}

void DialogsTest::setLidarModesClicksAreSilentAndExclusive() {
  SetLidarModes w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QSignalSpy spy(&w, &SetLidarModes::sendConfig);
  auto* secondEcho = child<QCheckBox>(&w, "checkBox_secondEcho");
  auto* firstEcho = child<QCheckBox>(&w, "checkBox_firstEcho");
  auto* degree133 = child<QCheckBox>(&w, "checkBox_degree133");
  auto* res04 = child<QCheckBox>(&w, "checkBox_resolution04");
  clickBox(secondEcho);
  clickBox(degree133);
  clickBox(res04);
  QCOMPARE(spy.count(), 0);
  QVERIFY(secondEcho->isChecked());
  QVERIFY(!firstEcho->isChecked());
  QCOMPARE(w.sensorType, QStringLiteral("Tovik162"));
  QCOMPARE(w.degree, 1);
  QCOMPARE(w.resolution, 1);
  // Clicking the checked box of an exclusive row keeps it checked.
  clickBox(secondEcho);
  QVERIFY(secondEcho->isChecked());
  clickBox(firstEcho);
  child<QPushButton>(&w, "pushButton_OK")->click();
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0), QVariantList({QStringLiteral("Tovik161"), 1, 1}));
}

// ---------------------------------------------------------------------------------------------
// Form_QLaserSelection

void DialogsTest::laserSelectionForm_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("className");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QRect>("geometry");
  QTest::newRow("checkBox") << "checkBox"
                            << "QCheckBox"
                            << "All/All no choice" << QRect(10, 10, 131, 16);
  QTest::newRow("pushButton_toggleselection") << "pushButton_toggleselection"
                                              << "QPushButton"
                                              << "Switch selection" << QRect(230, 10, 221, 23);
  QTest::newRow("tableWidget_laserselection") << "tableWidget_laserselection"
                                              << "QTableWidget"
                                              << "" << QRect(0, 40, 471, 421);
  QTest::newRow("checkBox_2") << "checkBox_2"
                              << "QCheckBox"
                              << "Applicable to future dialogs" << QRect(20, 469, 191, 31);
  QTest::newRow("pushButton_OK") << "pushButton_OK"
                                 << "QPushButton"
                                 << "OK" << QRect(290, 470, 75, 23);
  QTest::newRow("pushButton_Cancel") << "pushButton_Cancel"
                                     << "QPushButton"
                                     << "Cancel" << QRect(390, 470, 75, 23);
}

void DialogsTest::laserSelectionForm() {
  QFETCH(QString, name);
  QFETCH(QString, className);
  QFETCH(QString, text);
  QFETCH(QRect, geometry);
  Form_QLaserSelection w;
  QCOMPARE(w.windowTitle(), QStringLiteral("Select Laser channel"));
  QCOMPARE(w.size(), QSize(471, 502));
  QCOMPARE(w.minimumSize(), QSize(471, 502));
  QCOMPARE(w.maximumSize(), QSize(471, 502));
  // A plain window that stays on top: Qt adds its default decorations (title, close button)
  // because no other hint was asked for.
  QCOMPARE(w.windowType(), Qt::Window);
  QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  QVERIFY(w.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  for (Qt::WindowType unwanted : {Qt::CustomizeWindowHint, Qt::FramelessWindowHint,
                                  Qt::WindowStaysOnBottomHint, Qt::WindowDoesNotAcceptFocus}) {
    QVERIFY(!w.windowFlags().testFlag(unwanted));
  }
  QVERIFY(!w.testAttribute(Qt::WA_QuitOnClose));

  QWidget* widget = w.findChild<QWidget*>(name);
  QVERIFY(widget != nullptr);
  QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
  QCOMPARE(widget->geometry(), geometry);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) QCOMPARE(button->text(), text);
  if (name == QLatin1String("checkBox")) QVERIFY(static_cast<QCheckBox*>(widget)->isChecked());
  if (name == QLatin1String("checkBox_2")) QVERIFY(!static_cast<QCheckBox*>(widget)->isChecked());
}

void DialogsTest::laserSelectionTable() {
  Form_QLaserSelection w;
  auto* table = child<QTableWidget>(&w, "tableWidget_laserselection");
  QCOMPARE(table->rowCount(), 16);
  QCOMPARE(table->columnCount(), 3);
  QStringList headers;
  for (int c = 0; c < 3; ++c) headers << table->horizontalHeaderItem(c)->text();
  QCOMPARE(headers, QStringList({" ", "Vertical Angle", "Channel"}));
  QVERIFY(table->verticalHeader()->isHidden());
  QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectItems);
  QCOMPARE(table->selectionMode(), QAbstractItemView::ExtendedSelection);
  QCOMPARE(boxPattern(&w), QStringLiteral("1111111111111111"));
  QCOMPARE(flagPattern(w), QStringLiteral("1111111111111111"));
  QCOMPARE(columnTexts(&w, 1), kAngleTexts0);
  QCOMPARE(columnTexts(&w, 2), kChannelTexts);
  QCOMPARE(w.angleMode(), 0);
  saveScreenshot(&w, "Form_QLaserSelection");
}

void DialogsTest::laserSelectionDegreeMode_data() {
  QTest::addColumn<QList<int>>("modes");
  QTest::addColumn<QStringList>("angles");
  QTest::newRow("1.33 table") << QList<int>{1} << kAngleTexts1;
  QTest::newRow("back to 2 table") << QList<int>{1, 0} << kAngleTexts0;
  QTest::newRow("2 keeps texts") << QList<int>{2} << kAngleTexts0;
  QTest::newRow("2 after 1 keeps 1.33 texts") << QList<int>{1, 2} << kAngleTexts1;
  QTest::newRow("negative keeps texts") << QList<int>{1, -1} << kAngleTexts1;
}

void DialogsTest::laserSelectionDegreeMode() {
  QFETCH(QList<int>, modes);
  QFETCH(QStringList, angles);
  Form_QLaserSelection w;
  for (int m : modes) w.ReceiveDegreeMode(m);
  QCOMPARE(w.angleMode(), modes.last());
  QCOMPARE(columnTexts(&w, 1), angles);
  QCOMPARE(columnTexts(&w, 2), kChannelTexts);
  // Relabelling touches neither the boxes nor the flags.
  QCOMPARE(boxPattern(&w), QStringLiteral("1111111111111111"));
  QCOMPARE(flagPattern(w), QStringLiteral("1111111111111111"));
}

void DialogsTest::laserSelectionOkWithNothingChecked() {
  Form_QLaserSelection w;
  w.show();
  QSignalSpy spy(&w, &Form_QLaserSelection::sendChannelFlags);
  // Through the real button: the first press of "All/All no choice" clears every box.
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  clickBox(child<QCheckBox>(&w, "checkBox"));
  QCOMPARE(boxPattern(&w), QStringLiteral("0000000000000000"));
  QCOMPARE(flagPattern(w), QStringLiteral("1111111111111111"));
  child<QPushButton>(&w, "pushButton_OK")->click();
  QCOMPARE(spy.count(), 1);
  QCOMPARE(flagPattern(w), QStringLiteral("0000000000000000"));
  for (int ch = 0; ch < 16; ++ch) QVERIFY(!w.channelShown(ch));
  QVERIFY(w.isVisible());  // OK leaves the window open
}

void DialogsTest::laserSelectionRowHidesItsChannel_data() {
  QTest::addColumn<int>("channel");
  QTest::addColumn<int>("row");
  const int rows[16] = {0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15};
  for (int ch = 0; ch < 16; ++ch) {
    QTest::addRow("channel %d in row %d", ch, rows[ch]) << ch << rows[ch];
  }
}

void DialogsTest::laserSelectionRowHidesItsChannel() {
  QFETCH(int, channel);
  QFETCH(int, row);
  Form_QLaserSelection w;
  auto* table = child<QTableWidget>(&w, "tableWidget_laserselection");
  QCOMPARE(Form_QLaserSelection::kChannelToRow[channel], row);
  // The row that lists the channel is the row whose flag hides it.
  QCOMPARE(table->item(row, 2)->text(), QString::number(channel));
  qobject_cast<QCheckBox*>(table->cellWidget(row, 0))->setChecked(false);
  QVERIFY(w.channelShown(channel));  // nothing changes before OK
  w.onOk_Clicked();
  for (int ch = 0; ch < 16; ++ch) QCOMPARE(w.channelShown(ch), ch != channel);
  QVERIFY(!w.channelShown(-1));
  QVERIFY(!w.channelShown(16));
}

void DialogsTest::laserSelectionAllNoneTwice() {
  Form_QLaserSelection w;
  auto* allNone = child<QCheckBox>(&w, "checkBox");
  allNone->click();
  QCOMPARE(boxPattern(&w), QStringLiteral("0000000000000000"));
  allNone->click();
  QCOMPARE(boxPattern(&w), QStringLiteral("1111111111111111"));
  QCOMPARE(flagPattern(w), QStringLiteral("1111111111111111"));
  // The flags follow only on OK.
  allNone->click();
  QCOMPARE(flagPattern(w), QStringLiteral("1111111111111111"));
  w.onOk_Clicked();
  QCOMPARE(flagPattern(w), QStringLiteral("0000000000000000"));
}

void DialogsTest::laserSelectionToggleSequence_data() {
  QTest::addColumn<QString>("presses");  // C: "All/All no choice", P: "Switch selection"
  QTest::addColumn<QString>("boxes");
  const QString none = QStringLiteral("0000000000000000");
  const QString all = QStringLiteral("1111111111111111");
  const QString even = QStringLiteral("1010101010101010");
  const QString odd = QStringLiteral("0101010101010101");
  QTest::newRow("C") << "C" << none;
  QTest::newRow("CP: switch after clearing checks the odd rows") << "CP" << odd;
  QTest::newRow("P") << "P" << even;
  QTest::newRow("PP") << "PP" << odd;
  QTest::newRow("PPP") << "PPP" << even;
  QTest::newRow("PC: clear after one switch checks all") << "PC" << all;
  QTest::newRow("CPC") << "CPC" << none;
  QTest::newRow("CC") << "CC" << all;
}

void DialogsTest::laserSelectionToggleSequence() {
  QFETCH(QString, presses);
  QFETCH(QString, boxes);
  Form_QLaserSelection w;
  auto* allNone = child<QCheckBox>(&w, "checkBox");
  auto* toggle = child<QPushButton>(&w, "pushButton_toggleselection");
  for (QChar c : presses) (c == 'C' ? static_cast<QAbstractButton*>(allNone) : toggle)->click();
  QCOMPARE(boxPattern(&w), boxes);
  QCOMPARE(flagPattern(w), QStringLiteral("1111111111111111"));
  w.onOk_Clicked();
  QCOMPARE(flagPattern(w), boxes);
}

void DialogsTest::laserSelectionCancelKeepsFlags() {
  Form_QLaserSelection w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  child<QPushButton>(&w, "pushButton_toggleselection")->click();
  child<QPushButton>(&w, "pushButton_Cancel")->click();
  QVERIFY(!w.isVisible());
  QCOMPARE(flagPattern(w), QStringLiteral("1111111111111111"));
  QCOMPARE(boxPattern(&w), QStringLiteral("1010101010101010"));
  // Shown again, the next OK takes the boxes as they were left.
  w.show();
  child<QPushButton>(&w, "pushButton_OK")->click();
  QCOMPARE(flagPattern(w), QStringLiteral("1010101010101010"));
}

void DialogsTest::laserSelectionCheckstate2ChangesNothing() {
  Form_QLaserSelection w;
  child<QPushButton>(&w, "pushButton_toggleselection")->click();
  auto* future = child<QCheckBox>(&w, "checkBox_2");
  future->click();
  QVERIFY(future->isChecked());
  QCOMPARE(boxPattern(&w), QStringLiteral("1010101010101010"));
  future->click();
  QCOMPARE(boxPattern(&w), QStringLiteral("1010101010101010"));
  QCOMPARE(flagPattern(w), QStringLiteral("1111111111111111"));
}

// ---------------------------------------------------------------------------------------------
// Icons

void DialogsTest::compiledInIcon_data() {
  QTest::addColumn<QString>("name");
  for (const char* n : kCompiledIn) QTest::newRow(n) << QString::fromLatin1(n);
}

void DialogsTest::compiledInIcon() {
  QFETCH(QString, name);
  const QString path = QStringLiteral(":/image/Resources/images/") + name;
  QVERIFY2(QFileInfo::exists(path), qPrintable(path));
  const QIcon icon(path);
  QVERIFY(!icon.isNull());
  QVERIFY(!icon.pixmap(32, 32).isNull());
  const QImage image(path);
  QVERIFY(!image.isNull());
  QVERIFY(image.width() >= 16 && image.width() == image.height());
  // A blank image would load too: the drawing must cover a fair part of the canvas.
  int inked = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) inked += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
  }
  QVERIFY(inked > image.width() * image.height() / 8);
  if (name.endsWith(QLatin1String(".ico"))) {
    // The application icon carries several sizes for the window manager to pick from.
    QVERIFY(icon.availableSizes().size() > 1);
  }
}

void DialogsTest::runTimeIconFile_data() {
  QTest::addColumn<QString>("path");
  QStringList images = {"Play.png",         "Pause.png", "Seekforward.png",
                        "Seekbackward.png", "5.png",     "10.png",
                        "20.png",           "YES.png",   "NO.png"};
  for (const char* speed : {"2x", "3x", "0.5x", "0.25x"}) {
    images << QStringLiteral("Seekforward_%1.png").arg(speed)
           << QStringLiteral("Seekbackward_%1.png").arg(speed);
  }
  // The compiled-in icons lie on disk too, under the same names.
  for (const char* n : kCompiledIn) {
    if (!images.contains(QLatin1String(n))) images << QString::fromLatin1(n);
  }
  for (const QString& n : images) {
    QTest::newRow(qPrintable("images/" + n)) << "./Resources/images/" + n;
  }
  for (const char* n : {"corvane.png", "InteractionSetUp.png"}) {
    QTest::newRow(qPrintable(QStringLiteral("image/") + n))
        << QStringLiteral("./Resources/image/") + n;
  }
}

void DialogsTest::runTimeIconFile() {
  QFETCH(QString, path);
  QVERIFY2(QFileInfo(path).isFile(), qPrintable(path));
  const QIcon icon(path);
  QVERIFY(!icon.isNull());
  const QImage image(path);
  QVERIFY2(!image.isNull(), qPrintable(path));
  QVERIFY(image.width() >= 16 && image.width() == image.height());
  // Icons drawn over the tool buttons need a transparent ground; the JPEG cannot have one.
  if (path.endsWith(QLatin1String(".png"))) QVERIFY(image.hasAlphaChannel());
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
