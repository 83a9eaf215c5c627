// The save-data options window: its form and table, the validation of its entries with the
// warnings it shows, and what it emits for OK, Cancel and "Select all".
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "dialogs/SaveDataOptions.h"

namespace {

// Answers the next modal message box with its first button and records what it showed. The
// box is found from a timer, since the code under test waits inside the box's own event loop;
// the timer lives as long as this object, so it never answers another test's box.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      shown = true;
      title = box->windowTitle();
      text = box->text();
      for (QAbstractButton* b : box->buttons()) buttons << b->text();
      timer_.stop();
      box->buttons().first()->click();
    });
    timer_.start(10);
  }

  bool shown = false;
  QString title, text;
  QStringList buttons;

 private:
  QTimer timer_;
};

}  // namespace

class SaveOptionsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<SaveDataOptions> w_;

  template <typename T>
  T* child(const char* name) const {
    T* c = w_->findChild<T*>(QString::fromLatin1(name));
    if (c == nullptr) qWarning("no child %s", name);
    return c;
  }
  QCheckBox* channelBox(int row) const {
    return qobject_cast<QCheckBox*>(child<QTableWidget>("tableWidget_lines")->cellWidget(row, 0));
  }

 private slots:
  // NOLINTBEGIN(readability-identifier-naming): QtTest pairs a test with its "<name>_data" slot.
  void initTestCase() { qRegisterMetaType<QList<int>>(); }
  void init() {
    w_ = std::make_unique<SaveDataOptions>();
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() { w_.reset(); }

  void defaultsConfirmed() {
    QCOMPARE(w_->windowTitle(), QStringLiteral("SaveDataOptions"));
    QCOMPARE(w_->size(), QSize(515, 648));
    QSignalSpy spy(w_.get(), &SaveDataOptions::sendOptions);
    QTest::mouseClick(child<QPushButton>("pushButton_ok"), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QList<int> all;
    for (int r = 0; r < 16; ++r) all << r;
    const QList<QVariant> args = spy.at(0);
    QCOMPARE(args.mid(0, 4), (QList<QVariant>{true, 1, 0.0f, 360.0f}));
    QCOMPARE(args.at(4).value<QList<int>>(), all);
    QVERIFY(!w_->isVisible());
  }

  void channelTable() {
    auto* table = child<QTableWidget>("tableWidget_lines");
    QCOMPARE(table->rowCount(), 16);
    QCOMPARE(table->columnCount(), 3);
    const QStringList headers = {" ", "Channel", "Vertical Angle"};
    for (int c = 0; c < 3; ++c) QCOMPARE(table->horizontalHeaderItem(c)->text(), headers[c]);
    QVERIFY(!table->verticalHeader()->isVisible());
    QVERIFY(table->horizontalHeader()->stretchLastSection());
    QCOMPARE(table->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectItems);
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    const int angles[16] = {-15, 1, -13, 3, -11, 5, -9, 7, -7, 9, -5, 11, -3, 13, -1, 15};
    for (int r = 0; r < 16; ++r) {
      QVERIFY(channelBox(r) && channelBox(r)->isChecked());
      QCOMPARE(table->item(r, 1)->text(), QString::number(r));
      QCOMPARE(table->item(r, 2)->text(), QString::number(angles[r]));
      QCOMPARE(table->item(r, 1)->textAlignment(), int(Qt::AlignCenter));
      QCOMPARE(table->item(r, 2)->textAlignment(), int(Qt::AlignCenter));
    }
  }

  void okValidation_data() {
    QTest::addColumn<QString>("frames");
    QTest::addColumn<QString>("minText");
    QTest::addColumn<QString>("maxText");
    QTest::addColumn<QString>("warning");  // empty: accepted
    QTest::addColumn<int>("freams");
    QTest::addColumn<float>("angleMin");
    QTest::addColumn<float>("angleMax");
    QTest::newRow("defaults") << "1"
                              << "0"
                              << "360"
                              << "" << 1 << 0.0f << 360.0f;
    QTest::newRow("five frames, 10..20") << "5"
                                         << "10"
                                         << "20"
                                         << "" << 5 << 10.0f << 20.0f;
    QTest::newRow("fractional angles") << "2"
                                       << "10.25"
                                       << "20.5"
                                       << "" << 2 << 10.25f << 20.5f;
    QTest::newRow("single angle widens") << "1"
                                         << "90"
                                         << "90"
                                         << "" << 1 << 89.5f << 90.5f;
    QTest::newRow("0..0 widens below 0") << "1"
                                         << "0"
                                         << "0"
                                         << "" << 1 << -0.5f << 0.5f;
    QTest::newRow("360..360 widens above") << "1"
                                           << "360"
                                           << "360"
                                           << "" << 1 << 359.5f << 360.5f;
    QTest::newRow("non-number angle reads 0") << "1"
                                              << "x"
                                              << "10"
                                              << "" << 1 << 0.0f << 10.0f;
    QTest::newRow("max above 360") << "1"
                                   << "0"
                                   << "360.0001"
                                   << "Invalid angle" << 0 << 0.f << 0.f;
    QTest::newRow("negative min") << "1"
                                  << "-1"
                                  << "10"
                                  << "Invalid angle" << 0 << 0.f << 0.f;
    QTest::newRow("nan") << "1"
                         << "nan"
                         << "10"
                         << "Invalid angle" << 0 << 0.f << 0.f;
    QTest::newRow("min above max") << "1"
                                   << "200"
                                   << "100"
                                   << "Angle range invalid" << 0 << 0.f << 0.f;
    QTest::newRow("empty min") << "1"
                               << ""
                               << "10"
                               << "Angle range can not be empty" << 0 << 0.f << 0.f;
    QTest::newRow("empty max") << "1"
                               << "10"
                               << ""
                               << "Angle range can not be empty" << 0 << 0.f << 0.f;
    // A count below 1 or not a whole number would start an export that never ends.
    QTest::newRow("frames abc") << "abc"
                                << "0"
                                << "360"
                                << "Invalid frame count" << 0 << 0.f << 0.f;
    QTest::newRow("frames 0") << "0"
                              << "0"
                              << "360"
                              << "Invalid frame count" << 0 << 0.f << 0.f;
    QTest::newRow("frames -3") << "-3"
                               << "0"
                               << "360"
                               << "Invalid frame count" << 0 << 0.f << 0.f;
    QTest::newRow("frames 2.5") << "2.5"
                                << "0"
                                << "360"
                                << "Invalid frame count" << 0 << 0.f << 0.f;
  }
  void okValidation() {
    QFETCH(QString, frames);
    QFETCH(QString, minText);
    QFETCH(QString, maxText);
    QFETCH(QString, warning);
    QFETCH(int, freams);
    QFETCH(float, angleMin);
    QFETCH(float, angleMax);
    child<QLineEdit>("lineEdit_freamCount")->setText(frames);
    child<QLineEdit>("lineEdit_AngleMin")->setText(minText);
    child<QLineEdit>("lineEdit_AngleMax")->setText(maxText);
    QSignalSpy spy(w_.get(), &SaveDataOptions::sendOptions);
    BoxAnswerer box;

    QTest::mouseClick(child<QPushButton>("pushButton_ok"), Qt::LeftButton);

    if (warning.isEmpty()) {
      QVERIFY(!box.shown);
      QCOMPARE(spy.count(), 1);
      const QList<QVariant> args = spy.at(0);
      QCOMPARE(args.at(0).toBool(), true);
      QCOMPARE(args.at(1).toInt(), freams);
      QCOMPARE(args.at(2).toFloat(), angleMin);
      QCOMPARE(args.at(3).toFloat(), angleMax);
      QList<int> all;
      for (int r = 0; r < 16; ++r) all << r;
      QCOMPARE(args.at(4).value<QList<int>>(), all);
      QVERIFY(!w_->isVisible());
    } else {
      QVERIFY(box.shown);
      QCOMPARE(box.title, QStringLiteral("Warning"));
      QCOMPARE(box.text, warning);
      QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
      QCOMPARE(spy.count(), 0);
      QVERIFY(w_->isVisible());
    }
    // The typed entries stay as they were, widened ranges included.
    QCOMPARE(child<QLineEdit>("lineEdit_freamCount")->text(), frames);
    QCOMPARE(child<QLineEdit>("lineEdit_AngleMin")->text(), minText);
    QCOMPARE(child<QLineEdit>("lineEdit_AngleMax")->text(), maxText);
  }

  void emptyFrameCountBecomesOne() {
    child<QLineEdit>("lineEdit_freamCount")->clear();
    QSignalSpy spy(w_.get(), &SaveDataOptions::sendOptions);
    w_->onOk_Clicked();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).toInt(), 1);
    QCOMPARE(child<QLineEdit>("lineEdit_freamCount")->text(), QStringLiteral("1"));
  }

  void channelsAndSelectAll() {
    QSignalSpy spy(w_.get(), &SaveDataOptions::sendOptions);
    auto* all = child<QCheckBox>("checkBox_selectAll");
    // "Select all" off clears every channel; OK still emits, with no channel.
    QTest::mouseClick(all, Qt::LeftButton);
    QVERIFY(!all->isChecked());
    for (int r = 0; r < 16; ++r) QVERIFY(!channelBox(r)->isChecked());
    w_->onOk_Clicked();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(4).value<QList<int>>(), QList<int>());

    // Single channels are listed in ascending order whatever order they were checked in, and
    // checking them leaves "Select all" alone.
    w_->show();
    channelBox(15)->setChecked(true);
    channelBox(0)->setChecked(true);
    channelBox(7)->setChecked(true);
    QVERIFY(!all->isChecked());
    w_->onOk_Clicked();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(4).value<QList<int>>(), (QList<int>{0, 7, 15}));

    QTest::mouseClick(all, Qt::LeftButton);
    for (int r = 0; r < 16; ++r) QVERIFY(channelBox(r)->isChecked());
  }

  void cancelEmitsDefaultsAndKeepsEntries() {
    child<QLineEdit>("lineEdit_freamCount")->setText(QStringLiteral("7"));
    child<QLineEdit>("lineEdit_AngleMin")->setText(QStringLiteral("45"));
    channelBox(3)->setChecked(false);
    QSignalSpy spy(w_.get(), &SaveDataOptions::sendOptions);
    QTest::mouseClick(child<QPushButton>("pushButton_cancel"), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    const QList<QVariant> args = spy.at(0);
    QCOMPARE(args.at(0).toBool(), false);
    QCOMPARE(args.at(1).toInt(), 1);
    QCOMPARE(args.at(2).toFloat(), 0.0f);
    QCOMPARE(args.at(3).toFloat(), 360.0f);
    QCOMPARE(args.at(4).value<QList<int>>(), QList<int>());
    QVERIFY(!w_->isVisible());

    // The next showing still shows what was typed.
    w_->show();
    QCOMPARE(child<QLineEdit>("lineEdit_freamCount")->text(), QStringLiteral("7"));
    QCOMPARE(child<QLineEdit>("lineEdit_AngleMin")->text(), QStringLiteral("45"));
    QVERIFY(!channelBox(3)->isChecked());
  }

  void closeButtonEmitsNothing() {
    QSignalSpy spy(w_.get(), &SaveDataOptions::sendOptions);
    QVERIFY(w_->close());
    QVERIFY(!w_->isVisible());
    QCOMPARE(spy.count(), 0);
  }
  // NOLINTEND(readability-identifier-naming)
};

QTEST_MAIN(SaveOptionsTest)
#include "save_options_test.moc"
