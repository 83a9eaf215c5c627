// Construction, wiring, the connect flow and the mode slots of the main window.
#include "app/manwindow.h"

#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QStandardItemModel>
#include <QTableView>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <initializer_list>
#include <type_traits>

#include "acquisition/GetlidarData.h"
#include "acquisition/GetlidarData_1.h"
#include "acquisition/ReadLiveOffData.h"
#include "acquisition/SelectLidar.h"
#include "acquisition/SetLidarModes.h"
#include "acquisition/geometry.h"
#include "acquisition/udp_socket.h"
#include "app/point_cloud_view.h"
#include "app/point_table.h"
#include "app/record_controller.h"
#include "device/GetSet.h"
#include "device/InetactionSetupWidget.h"
#include "device/device_modes.h"
#include "device/setting_data.h"
#include "dialogs/ACWPSettingWidget.h"
#include "dialogs/About.h"
#include "dialogs/Form_QLaserSelection.h"
#include "dialogs/SaveDataOptions.h"
#include "dialogs/VerticalAngleSetting.h"
#include "ui_manwindow.h"

namespace {

// Redraw delay after a revolution: long enough to merge revolutions queued behind a slow draw,
// short enough that the view follows the stream.
constexpr int kRedrawDelayMs = 5;
constexpr int kStatusIntervalMs = 1000;
// How long a status-bar message stays.
constexpr int kNoticeMs = 6000;
constexpr int kPointIdColumnWidth = 64;
constexpr int kXyzColumnWidth = 220;
// Share of the screen width the point table's dock starts with, and its bounds in pixels.
constexpr double kDockShare = 0.25;
constexpr int kDockMinWidth = 240;
constexpr int kDockMaxWidth = 640;

constexpr char kLinkText[] =
    "<a href=\"https://tovik16.example/\" style=\"color:#5b2a86;\">Tovik16 Studio</a>";

QPalette applicationPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(230, 230, 230));
  p.setColor(QPalette::WindowText, Qt::black);
  p.setColor(QPalette::Base, QColor(255, 255, 255));
  p.setColor(QPalette::AlternateBase, QColor(105, 105, 105));
  p.setColor(QPalette::ToolTipBase, Qt::black);
  p.setColor(QPalette::ToolTipText, Qt::black);
  p.setColor(QPalette::Text, Qt::black);
  p.setColor(QPalette::Button, QColor(105, 105, 105));
  p.setColor(QPalette::ButtonText, Qt::black);
  p.setColor(QPalette::BrightText, Qt::red);
  p.setColor(QPalette::Highlight, QColor(142, 45, 197).lighter(150));
  p.setColor(QPalette::HighlightedText, Qt::black);
  return p;
}

}  // namespace

manwindow::manwindow(QWidget* parent) : QMainWindow(parent), ui_(new Ui::manwindow) {
  // 1. Member defaults (in the declarations) and the form.
  ui_->setupUi(this);

  // 2. Palette and window state.
  QApplication::setPalette(applicationPalette());
  // The palette's tool-tip roles are black on black; the form's tool tips get a readable pair.
  QPalette tips = applicationPalette();
  tips.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
  tips.setColor(QPalette::ToolTipText, Qt::black);
  QToolTip::setPalette(tips);
  setWindowState(Qt::WindowMaximized);

  // 3. Types that cross threads in queued signals.
  qRegisterMetaType<LidarData>();
  qRegisterMetaType<LidarData>("struct LidarData");
  registerDeviceMetaTypes();
  qRegisterMetaType<SettingData>("struct SettingData");

  // 4. Playback buttons wait for a loaded capture.
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui_->toolButton_Play, ui_->toolButton_GoToEnd, ui_->toolButton_GoToStart,
           ui_->toolButton_SeekBackward, ui_->toolButton_SeekForward})
    w->setEnabled(false);
  displayAngleLimit_ = 180.0f;

  // 5.
  connect(ui_->showAngle_lineEdit, &QLineEdit::returnPressed, this,
          &manwindow::showAngleLinedit_pressed);
  echoMode_ = 0;

  // 6 and 7: the owned objects with their connections, then the 3D view.
  createObjects();
  viewer_ = std::make_unique<tovik::PointCloudView>(ui_->screen);
  connect(viewer_.get(), &tovik::PointCloudView::areaPicked, this, &manwindow::onAreaPicked);
  connect(viewer_.get(), &tovik::PointCloudView::areaSelectionModeChanged, this,
          &manwindow::onAreaSelectionModeChanged);
  connect(viewer_.get(), &tovik::PointCloudView::pointSizeKey, this, &manwindow::onPointSizeKey);
  createViewTools();
  ui_->screen->update();

  linkLabel_ = new QLabel(QString::fromLatin1(kLinkText), this);
  linkLabel_->setTextFormat(Qt::RichText);
  linkLabel_->setTextInteractionFlags(Qt::TextBrowserInteraction);
  linkLabel_->setOpenExternalLinks(true);
  linkStateLabel_ = new QLabel(this);
  healthLabel_ = new QLabel(this);
  healthLabel_->setContentsMargins(16, 0, 0, 0);
  // Permanent widgets, so that no status-bar message ever hides them.
  ui_->statusBar->addPermanentWidget(linkStateLabel_);
  ui_->statusBar->addPermanentWidget(healthLabel_);
  csvStopButton_ = new QToolButton(this);
  csvStopButton_->setObjectName(QStringLiteral("csvStopButton"));
  csvStopButton_->setToolTip(tr("Stop the CSV export; the revolutions written so far are kept"));
  csvStopButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  csvStopButton_->hide();
  connect(csvStopButton_, &QToolButton::clicked, this, &manwindow::cancelCsvExport);
  ui_->statusBar->addPermanentWidget(csvStopButton_);
  ui_->statusBar->addPermanentWidget(linkLabel_);

  // 8.
  connectButtons();
  createRecordController();
  createCloudExportButton();
  createShortcuts();

  // 9.
  for (int i = 0; i < 16; ++i) channelNumber_[size_t(i)] = i;
  tovik::setDeviceVerticalAngles(tovik::AngleTable{});

  // 10. On the form but hidden; comboBox_degree still holds the angle mode. Engineering mode
  // shows the entries of the advanced settings, vertical angle and mode windows again.
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui_->showAngle_lineEdit, ui_->label_3, ui_->toolButton_9, ui_->setVerticalPushButton,
           ui_->setLidarModePushButton, ui_->toolButton_User, ui_->toolButton_Develop,
           ui_->comboBox_degree})
    w->hide();
  createEngineeringEntry();
  ui_->toolButton_Lidar->setEnabled(true);
  ui_->toolButton_disConnect->setEnabled(false);

  redrawTimer_.setSingleShot(true);
  redrawTimer_.setInterval(kRedrawDelayMs);
  connect(&redrawTimer_, &QTimer::timeout, this, &manwindow::drawNewestRevolution);
  statusTimer_.setInterval(kStatusIntervalMs);
  connect(&statusTimer_, &QTimer::timeout, this, &manwindow::refreshStatus);
  statusTimer_.start();
  perfClock_.start();
  refreshStatus();
  // The point table is wide: give the dock a useful share of the window at start.
  const int screenWidth = screen() != nullptr ? screen()->availableGeometry().width() : 1280;
  resizeDocks({ui_->LidraDataDock},
              {std::clamp(int(screenWidth * kDockShare), kDockMinWidth, kDockMaxWidth)},
              Qt::Horizontal);
  ui_->tableView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
}

manwindow::~manwindow() {
  statusTimer_.stop();
  redrawTimer_.stop();
  // Threads first: their destructors stop the runs and wait, so nothing is delivered to a
  // window that is going away.
  readLiveOffData_.reset();
  getlidarData_.reset();
  getlidarData1_.reset();
  getSet_.reset();
}

void manwindow::createObjects() {
  // 1.
  tableModel_ = std::make_unique<QStandardItemModel>();
  table_ = std::make_unique<tovik::PointTable>(tableModel_.get());

  // 2.
  laserSelection_ = std::make_unique<Form_QLaserSelection>();
  connect(this, &manwindow::SendDegreeMode, laserSelection_.get(),
          &Form_QLaserSelection::ReceiveDegreeMode, Qt::UniqueConnection);

  // 3.
  acwpSetting_ = std::make_unique<ACWPSettingWidget>();
  inetactionSetup_ = std::make_unique<InetactionSetupWidget>();
  about_ = std::make_unique<About>();

  // 4.
  getlidarData1_ = std::make_unique<GetlidarData_1>();
  connect(getlidarData1_.get(), &GetlidarData_1::SendFrame, this, &manwindow::onRevolutionFrame,
          Qt::UniqueConnection);
  connect(this, &manwindow::SendModel, getlidarData1_.get(), &GetlidarData_1::Receive,
          Qt::UniqueConnection);
  connect(getlidarData1_.get(), &GetlidarData_1::SendSocketError, this,
          &manwindow::onPointReceiverFailed);

  // 5.
  getlidarData_ = std::make_unique<GetlidarData>();
  connect(getlidarData_.get(), &GetlidarData::SendFrame, this, &manwindow::onRevolutionFrame);
  connect(this, &manwindow::SendModel, getlidarData_.get(), &GetlidarData::Receive,
          Qt::UniqueConnection);
  connect(getlidarData_.get(), &GetlidarData::SendSocketError, this,
          &manwindow::onPointReceiverFailed);

  // 6.
  getSet_ = std::make_unique<GetSet>();
  connect(getSet_.get(), &GetSet::SendDataDifo, inetactionSetup_.get(),
          &InetactionSetupWidget::OnLidarDifoData);
  connect(getSet_.get(), &GetSet::SendLidarStatusToSettingUI, inetactionSetup_.get(),
          &InetactionSetupWidget::OnLidarStatusReceiving);
  connect(getSet_.get(), &GetSet::SendLidarStatusToSettingUI, acwpSetting_.get(),
          &ACWPSettingWidget::onLidarStatusReceiving, Qt::UniqueConnection);
  connect(getSet_.get(), &GetSet::SendDataDifo, acwpSetting_.get(), [this](const u_char* p) {
    acwpSetting_->setPreferredLidarAddress(tovik::deviceAddress(p));
  });
  connect(inetactionSetup_.get(), &InetactionSetupWidget::sVersionsToHelp, about_.get(),
          &About::sSetVersion, Qt::UniqueConnection);
  connect(getSet_.get(), &GetSet::SendLidarStatusToSettingUI, this, &manwindow::receiveDevPacket);
  connect(getSet_.get(), &GetSet::SendSocketError, this, &manwindow::onDeviceReceiverFailed);

  // 7.
  verticalAngleSetting_ = std::make_unique<VerticalAngleSetting>();
  connect(ui_->setVerticalPushButton, &QPushButton::clicked, this, &manwindow::showVerticalSetting);
  connect(getSet_.get(), &GetSet::SendLidarStatusToSettingUI, verticalAngleSetting_.get(),
          &VerticalAngleSetting::onLidarStatusReceiving_, Qt::UniqueConnection);
  connect(getSet_.get(), &GetSet::SendDataDifo, verticalAngleSetting_.get(),
          &VerticalAngleSetting::OnLidarDifoData_, Qt::UniqueConnection);
  connect(this, &manwindow::sendAngleMistake, verticalAngleSetting_.get(),
          &VerticalAngleSetting::showAngleMistake, Qt::UniqueConnection);
  connect(this, &manwindow::SendDegreeMode, verticalAngleSetting_.get(),
          &VerticalAngleSetting::setDegreeMode, Qt::UniqueConnection);

  // 8.
  saveDataOptions_ = std::make_unique<SaveDataOptions>();
  saveDataOptions_->setWindowModality(Qt::ApplicationModal);
  connect(saveDataOptions_.get(), &SaveDataOptions::sendOptions, this,
          &manwindow::receiveSaveDataOption);

  // 9.
  readLiveOffData_ = std::make_unique<ReadLiveOffData>();
  connect(this, &manwindow::SendModel, readLiveOffData_.get(), &ReadLiveOffData::ReceiveMode);
  connect(readLiveOffData_.get(), &ReadLiveOffData::SendFrame, this, &manwindow::onRevolutionFrame);
  connect(readLiveOffData_.get(), &ReadLiveOffData::SendBool, this, &manwindow::FinshorStart);
  connect(readLiveOffData_.get(), &ReadLiveOffData::SendRevolution, this,
          &manwindow::onPlaybackRevolution);
  // Runs on the engine's thread: counts what it emits for the playback read-out.
  PlaybackTally* tally = &playbackTally_;
  connect(
      readLiveOffData_.get(), &ReadLiveOffData::SendFrame, this,
      [tally](const tovik::SharedFrame& revolution) {
        tally->revolutions.fetch_add(1, std::memory_order_relaxed);
        tally->points.fetch_add(revolution->totalPoints(), std::memory_order_relaxed);
      },
      Qt::DirectConnection);

  // 10.
  selectLidar_ = std::make_unique<SelectLidar>();
  connect(selectLidar_.get(), &SelectLidar::sendData, this, &manwindow::ReceiveSensor);

  // 11.
  setLidarModes_ = std::make_unique<SetLidarModes>();
  connect(ui_->setLidarModePushButton, &QPushButton::clicked, this,
          &manwindow::showLidarModeSetting);
  connect(setLidarModes_.get(), &SetLidarModes::sendConfig, this, &manwindow::receiveConfig);
  connect(this, &manwindow::sendDefaultConfig, setLidarModes_.get(), &SetLidarModes::setConfig);
}

void manwindow::connectButtons() {
  connect(ui_->toolButton_clear, &QToolButton::clicked, this, &manwindow::onClear);
  connect(ui_->comboBox_View, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          &manwindow::view);
  connect(ui_->toolButton_Coor, &QToolButton::clicked, this, &manwindow::onToggleAxes);
  connect(ui_->toolButton_selectCloud, &QToolButton::clicked, this, &manwindow::SelectPoints);
  connect(ui_->toolButton_Lidar, &QToolButton::clicked, this, &manwindow::onConnectLidar);
  connect(ui_->toolButton_disConnect, &QToolButton::clicked, this, &manwindow::onDisconnectLidar);
  connect(ui_->toolButton_MeaGrid, &QToolButton::clicked, this, &manwindow::onToggleGrid);
  connect(ui_->tolbtn_LidarDataList, &QToolButton::clicked, this, &manwindow::onToggleDataDock);
  connect(ui_->toolButton_SavePcapData, &QToolButton::clicked, this, &manwindow::onRecord);
  connect(ui_->toolButton_Open, &QToolButton::clicked, this, &manwindow::onOpenCapture);
  // Enabled only by a loaded capture.
  connect(ui_->toolButton_Play, &QToolButton::clicked, this, &manwindow::onPlay);
  connect(ui_->toolButton_SeekForward, &QToolButton::clicked, this, &manwindow::onSeekForward);
  connect(ui_->toolButton_SeekBackward, &QToolButton::clicked, this, &manwindow::onSeekBackward);
  connect(ui_->toolButton_GoToStart, &QToolButton::clicked, this, &manwindow::onGoToStart);
  connect(ui_->toolButton_GoToEnd, &QToolButton::clicked, this, &manwindow::onGoToEnd);
  connect(ui_->Spbox_Frame, QOverload<int>::of(&QSpinBox::valueChanged), ui_->Slider_Frame,
          &QSlider::setValue);
  connect(ui_->Slider_Frame, &QSlider::valueChanged, ui_->Spbox_Frame, &QSpinBox::setValue);
  connect(ui_->Spbox_Frame, QOverload<int>::of(&QSpinBox::valueChanged), this,
          &manwindow::onFrameEdited);
  connect(ui_->toolButton_Close, &QToolButton::clicked, this, &manwindow::onCloseCapture);
  connect(ui_->checkBox_RealTime, &QCheckBox::toggled, readLiveOffData_.get(),
          &ReadLiveOffData::setRealTime, Qt::DirectConnection);
  connect(ui_->toolButton_11, &QToolButton::clicked, saveDataOptions_.get(),
          &SaveDataOptions::show);
  connect(ui_->toolButton_12, &QToolButton::clicked, inetactionSetup_.get(),
          &InetactionSetupWidget::show);
  connect(ui_->toolButton_12, &QToolButton::clicked, inetactionSetup_.get(),
          &InetactionSetupWidget::onCleanUCWPControl);
  connect(ui_->tolbtn_offdata, &QToolButton::clicked, this, &manwindow::onTogglePause);
  connect(ui_->toolButton_10, &QToolButton::clicked, laserSelection_.get(),
          &Form_QLaserSelection::show);
  connect(ui_->toolButton_9, &QToolButton::clicked, acwpSetting_.get(),
          &ACWPSettingWidget::showWindow);
  connect(ui_->toolButton_9, &QToolButton::clicked, acwpSetting_.get(),
          &ACWPSettingWidget::onCleanACWPControl);
  connect(ui_->comboBox_3, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          &manwindow::Return_Mode);
  connect(ui_->comboBox_degree, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          &manwindow::Return_Degree);
  connect(ui_->toolButton_About, &QToolButton::clicked, about_.get(), &About::show);
  // toolButton_User and toolButton_Develop do nothing.
}

// --- Connect and disconnect ---------------------------------------------------------------

template <typename Receiver>
void manwindow::stopAndWait(Receiver* receiver) {
  if (!receiver->isRunning()) return;
  receiver->stopRequested = true;
  receiver->quit();
  receiver->wait();
}

template <typename Receiver>
bool manwindow::startPointReceiver(Receiver* receiver) {
  quint16 port = 0;
  if (!readPortField(ui_->lineEdit_portNumber, tr("Port Number"), &port) || !checkMulticastField())
    return false;
  receiverFailure_.clear();
  receiver->port = port;
  receiver->multicastIp = ui_->lineEdit_2->text().toStdString();
  if (playbackHoldsView()) {
    // Playback holds the view: this receiver starts when it ends.
    parkedLive_ =
        std::is_same_v<Receiver, GetlidarData_1> ? LiveReceiver::kSingle : LiveReceiver::kDual;
    updateLinkState();
    return true;
  }
  receiver->start(QThread::InheritPriority);
  return true;
}

bool manwindow::readPortField(QLineEdit* field, const QString& fieldName, quint16* port) {
  bool ok = false;
  const int value = field->text().trimmed().toInt(&ok, 10);
  if (ok && value >= 1 && value <= 65535) {
    *port = quint16(value);
    return true;
  }
  QMessageBox::warning(this, QStringLiteral("Warning"),
                       tr("%1: \"%2\" is not a port number. Enter a whole number from 1 to 65535.")
                           .arg(fieldName, field->text()));
  field->setFocus();
  field->selectAll();
  return false;
}

bool manwindow::checkMulticastField() {
  QLineEdit* field = ui_->lineEdit_2;
  if (tovik::net::isDottedIpv4(field->text().toStdString())) return true;
  QMessageBox::warning(
      this, QStringLiteral("Warning"),
      tr("Multicast IP: \"%1\" is not an IPv4 address. Enter four numbers from 0 to 255 "
         "separated by dots, such as 224.1.1.1.")
          .arg(field->text()));
  field->setFocus();
  field->selectAll();
  return false;
}

bool manwindow::liveReceiverRunning() const {
  return getlidarData_->isRunning() || getlidarData1_->isRunning();
}

bool manwindow::playbackHoldsView() const {
  // The Play button shows Pause (the sensor window may still be open), or the engine runs,
  // paused or not; after the end of the file it only finishes its last packet.
  return (capture_ && !paused_) || (readLiveOffData_->isRunning() && !playbackFinished_);
}

void manwindow::parkLiveReceivers() {
  if (getlidarData1_->isRunning()) {
    parkedLive_ = LiveReceiver::kSingle;
    stopAndWait(getlidarData1_.get());
  }
  if (getlidarData_->isRunning()) {
    parkedLive_ = LiveReceiver::kDual;
    stopAndWait(getlidarData_.get());
  }
  updateLinkState();
}

void manwindow::resumeParkedLive() {
  const LiveReceiver parked = parkedLive_;
  parkedLive_ = LiveReceiver::kNone;
  // Port and group were given when it was parked (or noted).
  if (parked == LiveReceiver::kSingle && !getlidarData1_->isRunning())
    getlidarData1_->start(QThread::InheritPriority);
  else if (parked == LiveReceiver::kDual && !getlidarData_->isRunning())
    getlidarData_->start(QThread::InheritPriority);
  updateLinkState();
}

void manwindow::resetTable(bool attach) {
  table_->reset(attach ? ui_->tableView : nullptr);
  // Room for "x y z" with four decimals each; the point number needs little.
  ui_->tableView->setColumnWidth(0, kPointIdColumnWidth);
  ui_->tableView->setColumnWidth(1, kXyzColumnWidth);
}

void manwindow::onConnectLidar() {
  quint16 dataPort = 0, telemetryPort = 0;
  if (!readPortField(ui_->lineEdit_portNumber, tr("Port Number"), &dataPort) ||
      !readPortField(ui_->lineEdit, tr("Telemetry Port"), &telemetryPort) || !checkMulticastField())
    return;
  receiverFailure_.clear();
  deviceReceiverFailure_.clear();
  ui_->toolButton_Lidar->setEnabled(false);
  ui_->lineEdit_portNumber->setEnabled(false);
  ui_->lineEdit->setEnabled(false);
  ui_->lineEdit_2->setEnabled(false);
  ui_->toolButton_disConnect->setEnabled(true);

  resetTable(true);
  cancelPendingRedraw();
  viewer_->clearAll();
  cameraFitsPending_ = kCameraFits;

  awaitingFirstStatus_ = true;
  stopAndWait(getSet_.get());
  getSet_->port = telemetryPort;
  getSet_->multicastIp = ui_->lineEdit_2->text().toStdString();
  getSet_->start(QThread::InheritPriority);
  // The point receiver starts with the first device status record (receiveDevPacket).
  updateLinkState();
}

void manwindow::receiveDevPacket(SettingData* data, std::vector<int> Mac) {
  if (!awaitingFirstStatus_) return;
  awaitingFirstStatus_ = false;

  // FPGA 3rd board version: major at packet byte 1202, minor in the high nibble of byte 1203.
  const int fpga3Major = data != nullptr ? data->fpga3Version[4] : 0;
  const int fpga3Minor = data != nullptr ? data->fpga3Version[5] >> 4 : 0;
  const auto macAt = [&Mac](int i) { return i < static_cast<int>(Mac.size()) ? Mac[i] : 0; };
  const tovik::DeviceModes modes = tovik::deriveDeviceModes(
      fpga3Major, fpga3Minor, macAt(tovik::kMacAngleSpacing), macAt(tovik::kMacEchoMode));

  accuaryMode_ = modes.accuaryMode;
  // A change of index reaches Return_Degree, which emits SendDegreeMode.
  ui_->comboBox_degree->setCurrentIndex(modes.degreeMode);

  stopAndWait(getlidarData_.get());
  stopAndWait(getlidarData1_.get());
  if (modes.sensorType == QLatin1String(tovik::kSensorDualLive))
    startPointReceiver(getlidarData_.get());
  else
    startPointReceiver(getlidarData1_.get());

  emit sendDefaultConfig(modes.sensorType, ui_->comboBox_degree->currentIndex(), accuaryMode_);
  updateLinkState();
}

void manwindow::onDisconnectLidar() {
  ui_->toolButton_Lidar->setEnabled(true);
  ui_->lineEdit_portNumber->setEnabled(true);
  ui_->lineEdit->setEnabled(true);
  ui_->lineEdit_2->setEnabled(true);
  ui_->toolButton_disConnect->setEnabled(false);
  // No wait: each run sees its flag within one receive time-out and ends by itself.
  if (getlidarData1_->isRunning()) getlidarData1_->stopRequested = true;
  if (getlidarData_->isRunning()) getlidarData_->stopRequested = true;
  if (getSet_->isRunning()) getSet_->stopRequested = true;
  // A receiver that playback stopped stays stopped.
  parkedLive_ = LiveReceiver::kNone;
  // The last revolution stays in view, without the trail of the stream that ended.
  viewer_->dropTrail();
  viewer_->render();
  updateLinkState();
}

// --- Mode slots ------------------------------------------------------------------------------

void manwindow::receiveConfig(QString sensor, int degree, int resolution) {
  if (sensor == QLatin1String(tovik::kSensorSingleLive)) {
    stopAndWait(getlidarData_.get());
    if (parkedLive_ == LiveReceiver::kDual) parkedLive_ = LiveReceiver::kSingle;
    if (!getlidarData1_->isRunning() && parkedLive_ == LiveReceiver::kNone)
      startPointReceiver(getlidarData1_.get());
  } else if (sensor == QLatin1String(tovik::kSensorDualLive)) {
    stopAndWait(getlidarData1_.get());
    if (parkedLive_ == LiveReceiver::kSingle) parkedLive_ = LiveReceiver::kDual;
    if (!getlidarData_->isRunning() && parkedLive_ == LiveReceiver::kNone)
      startPointReceiver(getlidarData_.get());
  }
  // The playback engine knows the offline names of the two sensor types.
  QString engineSensor = sensor;
  if (sensor == QLatin1String(tovik::kSensorSingleLive))
    engineSensor = QString::fromLatin1(tovik::kSensorSingleOffline);
  else if (sensor == QLatin1String(tovik::kSensorDualLive))
    engineSensor = QString::fromLatin1(tovik::kSensorDualOffline);
  // A run reads the engine's sensor type as it starts: never write it while one may be
  // reading; a running engine gets the value before its next start.
  if (readLiveOffData_->isRunning()) {
    pendingEngineSensor_ = engineSensor;
  } else {
    readLiveOffData_->sensorType = engineSensor;
    pendingEngineSensor_ = QString();
    prepareSeekIndex();
  }
  if (degree == tovik::kDegree2 || degree == tovik::kDegree133)
    ui_->comboBox_degree->setCurrentIndex(degree);
  accuaryMode_ = resolution == tovik::kResolution04 ? tovik::kResolution04 : tovik::kResolution025;
  updateLinkState();
}

void manwindow::Return_Mode() {
  echoMode_ = ui_->comboBox_3->currentIndex();
  emit SendModel(echoMode_);
  prepareSeekIndex();
}

void manwindow::Return_Degree() {
  degreeMode_ = ui_->comboBox_degree->currentIndex();
  emit SendDegreeMode(degreeMode_);
}

void manwindow::showVerticalSetting() {
  Return_Degree();
  verticalAngleSetting_->show();
}

void manwindow::showAngleLinedit_pressed() {
  displayAngleLimit_ = ui_->showAngle_lineEdit->text().toFloat();
}

void manwindow::showLidarModeSetting() { setLidarModes_->show(); }

// --- Engineering mode ----------------------------------------------------------------------

void manwindow::createEngineeringEntry() {
  engineeringButton_ = new QToolButton(ui_->Tab_5);
  engineeringButton_->setObjectName(QStringLiteral("toolButton_Engineering"));
  engineeringButton_->setText(tr("Engineering mode"));
  engineeringButton_->setToolTip(tr("Show the windows that change the lidar's settings"));
  engineeringButton_->setIcon(QIcon(QStringLiteral(":/image/Resources/images/Develop.png")));
  engineeringButton_->setIconSize(ui_->toolButton_About->iconSize());
  engineeringButton_->setMinimumSize(ui_->toolButton_About->minimumSize());
  engineeringButton_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  engineeringButton_->setAutoRaise(true);
  engineeringButton_->setCheckable(true);
  ui_->layout_Tab_5->insertWidget(ui_->layout_Tab_5->indexOf(ui_->toolButton_About) + 1,
                                  engineeringButton_);
  // clicked, not toggled: setEngineeringMode checks the button without asking again.
  connect(engineeringButton_, &QToolButton::clicked, this, &manwindow::onEngineeringModeClicked);
  connect(this, &manwindow::sendEngineeringMode, verticalAngleSetting_.get(),
          &VerticalAngleSetting::setWriteEnabled);
}

void manwindow::onEngineeringModeClicked(bool checked) {
  if (checked) {
    const QString text =
        tr("Engineering mode shows, in the Tovik16 tab, the advanced settings (\"%1\"), the "
           "vertical angle calibration with its write to the lidar (\"%2\") and the connection "
           "mode (\"%3\"). The first two change the lidar's own settings and calibration; wrong "
           "values can leave it measuring wrongly or out of reach.\n\nSwitch engineering mode on?")
            .arg(ui_->toolButton_9->text(), ui_->setVerticalPushButton->text(),
                 ui_->setLidarModePushButton->text());
    if (QMessageBox::question(this, QStringLiteral("Question"), text,
                              QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No) != QMessageBox::Yes) {
      engineeringButton_->setChecked(false);
      return;
    }
  }
  setEngineeringMode(checked);
}

void manwindow::setEngineeringMode(bool on) {
  engineeringButton_->setChecked(on);
  if (on == engineeringMode_) return;
  engineeringMode_ = on;
  for (QWidget* w : std::initializer_list<QWidget*>{ui_->toolButton_9, ui_->setVerticalPushButton,
                                                    ui_->setLidarModePushButton})
    w->setVisible(on);
  if (!on) {
    // Out of engineering mode nothing may write to the device.
    acwpSetting_->close();
    verticalAngleSetting_->close();
    setLidarModes_->close();
  }
  notify(on ? tr("Engineering mode on: the settings windows are in the Tovik16 tab")
            : tr("Engineering mode off"));
  emit sendEngineeringMode(on);
}

void manwindow::onToggleDataDock() {
  if (ui_->LidraDataDock->isHidden())
    ui_->LidraDataDock->show();
  else
    ui_->LidraDataDock->hide();
}

void manwindow::onTogglePause() {
  displayEnabled_ = !displayEnabled_;
  ui_->tolbtn_offdata->setChecked(!displayEnabled_);
}

// --- Status bar ------------------------------------------------------------------------------

QString manwindow::linkStateText() const {
  if (ui_->toolButton_Lidar->isEnabled()) return tr("Not connected");
  if (awaitingFirstStatus_ && !deviceReceiverFailure_.isEmpty())
    return tr("No device status: %1").arg(deviceReceiverFailure_);
  if (awaitingFirstStatus_) return tr("Waiting for device status on port %1").arg(getSet_->port);
  // The reason a group was not joined is in the label's tool tip (updateLinkState).
  const auto running = [](const char* sensor, quint16 port, const std::string& joinNote) {
    QString text = tr("%1 on port %2").arg(QLatin1String(sensor)).arg(port);
    if (!joinNote.empty()) text += tr(", multicast not joined");
    return text;
  };
  if (getlidarData1_->isRunning())
    return running(tovik::kSensorSingleLive, getlidarData1_->port, getlidarData1_->joinNote());
  if (getlidarData_->isRunning())
    return running(tovik::kSensorDualLive, getlidarData_->port, getlidarData_->joinNote());
  if (parkedLive_ != LiveReceiver::kNone) return tr("Live reception resumes after playback");
  if (!receiverFailure_.isEmpty()) return tr("No point data: %1").arg(receiverFailure_);
  return tr("No point receiver running");
}

void manwindow::onPointReceiverFailed(QString reason) {
  receiverFailure_ = reason;
  showReceiverFailure(tr("The point receiver could not start: %1").arg(reason),
                      QStringLiteral("pointReceiverFailure"));
}

void manwindow::onDeviceReceiverFailed(QString reason) {
  deviceReceiverFailure_ = reason;
  showReceiverFailure(tr("The device status receiver could not start: %1").arg(reason),
                      QStringLiteral("deviceReceiverFailure"));
}

void manwindow::showReceiverFailure(const QString& text, const QString& boxName) {
  updateLinkState();
  notify(text);
  // Not exec(): this arrives from a receiver thread, and a nested event loop here would run
  // the revolution pass underneath the box.
  auto* box =
      new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName(boxName);
  box->open();
}

void manwindow::notify(const QString& text) { ui_->statusBar->showMessage(text, kNoticeMs); }

void manwindow::updateLinkState() {
  linkStateLabel_->setText(linkStateText());
  std::string joinNote;
  if (getlidarData1_->isRunning()) joinNote = getlidarData1_->joinNote();
  if (getlidarData_->isRunning()) joinNote = getlidarData_->joinNote();
  linkStateLabel_->setToolTip(
      joinNote.empty() ? QString()
                       : tr("Unicast data still arrives. The multicast group was not joined: %1")
                             .arg(QString::fromStdString(joinNote)));
}

void manwindow::refreshStatus() {
  updateLinkState();

  const QThread* source = nullptr;
  tovik::ReceiverCounters counters;
  if (readLiveOffData_->isRunning()) {
    source = readLiveOffData_.get();
  } else if (getlidarData1_->isRunning()) {
    source = getlidarData1_.get();
    counters = getlidarData1_->stats().snapshot();
  } else if (getlidarData_->isRunning()) {
    source = getlidarData_.get();
    counters = getlidarData_->stats().snapshot();
  }
  if (source != healthSource_) {
    health_.reset();
    healthSource_ = source;
  }
  const double elapsedS = healthClock_.isValid() ? healthClock_.restart() / 1000.0 : 0.0;
  if (!healthClock_.isValid()) healthClock_.start();
  writePerfLine(counters.revolutions);
  if (source == nullptr) {
    healthLabel_->setText(tovik::HealthReadout::idleText(getSet_->stats().accepted));
    return;
  }
  if (source == readLiveOffData_.get()) {
    tovik::PlaybackCounters played;
    played.revolutions = playbackTally_.revolutions.load(std::memory_order_relaxed);
    played.points = playbackTally_.points.load(std::memory_order_relaxed);
    // One echo of dual-return data is half of each packet's points.
    const bool oneEcho =
        readLiveOffData_->sensorType == QLatin1String(tovik::kSensorDualOffline) && echoMode_ != 0;
    played.pointsPerPacket = oneEcho ? 192 : 384;
    played.frame = frameIndex_;
    played.frames = packetFrameCount_;
    healthLabel_->setText(health_.samplePlayback(played, elapsedS));
    return;
  }
  healthLabel_->setText(health_.sample(counters, elapsedS));
}

bool manwindow::setPerfLog(const QString& path) {
  auto file = std::make_unique<QFile>(path);
  if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return false;
  file->write("# seconds received passed drawn pass_ms redraw_ms max_wait_ms\n");
  file->flush();
  perfLog_ = std::move(file);
  return true;
}

void manwindow::writePerfLine(uint64_t receivedRevolutions) {
  if (perfLog_) {
    const auto mean = [](int64_t ns, uint64_t n) { return n ? double(ns) / double(n) / 1e6 : 0.0; };
    const QString line = QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
                             .arg(double(perfClock_.elapsed()) / 1000.0, 0, 'f', 1)
                             .arg(receivedRevolutions)
                             .arg(revolutionsPassed_)
                             .arg(framesDrawn_)
                             .arg(mean(perf_.passNs, perf_.passes), 0, 'f', 2)
                             .arg(mean(perf_.redrawNs, perf_.redraws), 0, 'f', 2)
                             .arg(double(perf_.maxWaitNs) / 1e6, 0, 'f', 1);
    perfLog_->write(line.toUtf8());
    perfLog_->flush();
  }
  perf_ = PerfWindow();
}
