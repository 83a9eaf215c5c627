// The main window: owns every worker thread and window of the viewer, wires their signals, runs
// the connect flow and hands each revolution to the drawing pipeline. The drawing, the view
// tools and the point table themselves live in app/revolution_pass, app/point_cloud_view and
// app/point_table; this class only keeps the viewer state and drives them.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "acquisition/capture_description.h"
#include "acquisition/capture_file.h"
#include "acquisition/frame_pool.h"
#include "acquisition/lidar_data.h"
#include "app/csv_export.h"
#include "app/revolution_pass.h"
#include "app/shortcuts.h"
#include "app/status_health.h"

// NOLINTNEXTLINE(readability-identifier-naming): uic puts the form classes in namespace Ui.
namespace Ui {
class manwindow;
}
class QLabel;
class QLineEdit;
class QSpinBox;
class QToolButton;
class QStandardItemModel;
class QThread;
class GetlidarData;
class GetlidarData_1;
class GetSet;
class ReadLiveOffData;
class InetactionSetupWidget;
class ACWPSettingWidget;
class VerticalAngleSetting;
class Form_QLaserSelection;
class SaveDataOptions;
class SelectLidar;
class SetLidarModes;
class About;
struct SettingData;
namespace tovik {
class PointCloudView;
class PointTable;
class RecordController;
class RevolutionIndex;
class ShortcutsHelp;
}  // namespace tovik

class manwindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit manwindow(QWidget* parent = nullptr);
  // Stops the threads and waits for them, then releases the windows.
  ~manwindow() override;

  // Appends one line a second to path: seconds since start, revolutions emitted by the running
  // receiver, revolutions passed and frames drawn (both cumulative), the mean revolution pass and
  // redraw times in ms over that second, and the longest wait of a revolution for its redraw.
  // For the soak benchmark; false when the file cannot be opened.
  bool setPerfLog(const QString& path);

  // Loads a capture into the Offline tab as "Open" does after its file dialog. The capture
  // loaded before stays (and keeps playing) when path cannot be opened or holds no point data;
  // the operator is told why. False then.
  bool openCapture(const QString& path);
  // Play for the loaded capture. When its device packets named the sensor type, the sensor
  // window's preselected row is confirmed at once and playback starts; otherwise the sensor
  // window asks first, as after Play. See app/manwindow_capture.cpp.
  void playLoadedCapture();
  // Builds the revolution index of the loaded capture for the engine's sensor type and the echo
  // code, and hands it to the engine; the frame box and slider then seek. Call once the sensor
  // type is known and whenever it or the echo code changes; a no-op when the index fits.
  void prepareSeekIndex();

  // Engineering mode shows the entries of the windows that change the device's settings (the
  // advanced settings, the vertical angles with their write, the connection mode); off at start.
  // Switching it off closes those windows. Asks nothing: the Help tab's entry asks first.
  void setEngineeringMode(bool on);
  bool engineeringMode() const { return engineeringMode_; }

 signals:
  // Echo code 0, 1 or 2 for the decoders.
  void SendModel(int ReturnMode);
  // Angle mode 0 (2 degree table) or 1 (1.33 degree table).
  void SendDegreeMode(int degreeMode);
  // Declared for the device's tool compatibility; never emitted.
  void SendCount(int K);
  // First channel whose device vertical angle differs from the nominal table by over 1.5 deg.
  void sendAngleMistake(int channel);
  // Sensor type, angle-mode index (carried in echoMode) and distance resolution derived from
  // the first device status record after a connect, for the mode window.
  void sendDefaultConfig(QString sensor, int echoMode, int accuaryMode);
  // Engineering mode switched on or off (setEngineeringMode).
  void sendEngineeringMode(bool on);

 public slots:
  void view();
  void SelectPoints();
  void ReceiveSensor(QString str);
  void CalculateCoordinates(LidarData lidardata);
  // A revolution from a receiver or the playback engine; the same pass as CalculateCoordinates.
  void onRevolutionFrame(const tovik::SharedFrame& frame);
  void FinshorStart(bool Finshone);
  void Return_Mode();
  void Return_Degree();
  void showVerticalSetting();
  void showAngleLinedit_pressed();
  void showLidarModeSetting();
  void receiveConfig(QString sensor, int degree, int resolution);
  void receiveSaveDataOption(bool isSave, int freams, float angleMin, float angleMax,
                             QList<int> lines);
  void receiveDevPacket(SettingData* data, std::vector<int> Mac);
  void onDisconnectLidar();

 private slots:
  void onConnectLidar();
  void onClear();
  void onToggleAxes();
  void onToggleGrid();
  void onToggleDataDock();
  void onTogglePause();
  void onAreaPicked(std::vector<int> indices);
  // The cursor follows the view's selection mode, however it was switched.
  void onAreaSelectionModeChanged(bool on);
  void onPointSizeKey(int delta);
  void drawNewestRevolution();
  void refreshStatus();
  // A live point receiver could not set up its socket: the status bar and a message say why.
  void onPointReceiverFailed(QString reason);
  void onDeviceReceiverFailed(QString reason);
  // Ends a running CSV export early: the revolutions written so far stay, whole.
  void cancelCsvExport();
  // Capture files and recording; see app/manwindow_offline.cpp.
  void onOpenCapture();
  // The playback buttons of the Offline tab; see app/manwindow_offline.cpp.
  void onPlay();
  void onSeekForward();
  void onSeekBackward();
  void onGoToStart();
  void onGoToEnd();
  // Seeking, closing and the keyboard; see app/manwindow_offline.cpp.
  void onCloseCapture();
  void onFrameEdited(int value);
  void onPlaybackRevolution(int revolution);
  void onShowShortcuts();
  // Record: see app/manwindow_record.cpp.
  void onRecord();
  // The Help tab's "Engineering mode" entry: switching on needs the operator's yes.
  void onEngineeringModeClicked(bool checked);

 private:
  friend class MainWindowTest;
  friend class CsvExportTest;
  friend class OfflineControlsTest;
  friend class EngineeringModeTest;
  friend class CaptureDescriptionWindowTest;

  void createObjects();
  void connectButtons();
  void createEngineeringEntry();
  // The view tools made in code: the "Trails" spin box beside the camera views, the colour
  // legend following the colour combo. See app/manwindow_view.cpp.
  void createViewTools();
  // The pass settings of the current window state for one revolution.
  tovik::PassSettings passSettings() const;
  // Asks a running receiver to stop and waits until its run has ended.
  template <typename Receiver>
  static void stopAndWait(Receiver* receiver);
  // Gives a point receiver the data port and multicast group of the fields and starts it; while
  // playback runs it is only noted, to start when playback ends. False (with a message naming
  // the field) when the fields do not hold a port and an address.
  template <typename Receiver>
  bool startPointReceiver(Receiver* receiver);
  // Reads a port field: a whole number 1..65535. Otherwise tells the operator which field is
  // wrong (fieldName) and returns false.
  bool readPortField(QLineEdit* field, const QString& fieldName, quint16* port);
  // The multicast field holds a dotted IPv4 address; otherwise a message and false.
  bool checkMulticastField();
  bool liveReceiverRunning() const;
  // Live and played revolutions never mix: playback stops the live point receiver and keeps
  // which one it was; when playback ends (or its capture is replaced) that one starts again.
  enum class LiveReceiver { kNone, kSingle, kDual };
  LiveReceiver parkedLive_ = LiveReceiver::kNone;
  void parkLiveReceivers();
  void resumeParkedLive();
  bool playbackHoldsView() const;
  // Starts the playback engine on the loaded table, held at its gate when the Play button
  // shows Play.
  void startEngine();
  // Revolutions are on their way to the pass: the display runs and a live receiver or
  // playback feeds it. When not, an export writes the stored revolution at once.
  bool revolutionsWillArrive() const;
  void resetTable(bool attach);
  // Drops a drawn-but-not-yet-shown revolution, so a cleared view stays clear.
  void cancelPendingRedraw();
  void scheduleRedraw();
  QString linkStateText() const;
  // The link state, a status-bar notice and a non-modal warning box named boxName.
  void showReceiverFailure(const QString& text, const QString& boxName);
  void updateLinkState();

  std::unique_ptr<Ui::manwindow> ui_;

  // The 3D view (the visualizer "viewer" drawn into the form's `screen`).
  std::unique_ptr<tovik::PointCloudView> viewer_;
  // Drawn points of the newest revolution outside and inside the selection box; replaced by
  // every revolution, drawn by the redraw timer.
  std::vector<tovik::DrawnPoint> realTimeCloud_;
  std::vector<tovik::DrawnPoint> clickedCloud_;
  tovik::PassResult pass_;

  int pointSize_ = 1;
  // Revolutions kept in view (1 to 20); the older ones are drawing only.
  QSpinBox* trailSpin_ = nullptr;
  bool axesShown_ = false;
  bool gridHidden_ = true;
  // The area selection mode is the view's own (key "x" in the view switches it too); the info
  // text is refreshed only outside it.
  bool selectingMode() const;
  bool infoTextEnabled() const { return !selectingMode(); }
  bool selectionActive_ = false;
  int selectedCount_ = 0;
  tovik::SelectionBox selectionBox_;
  LidarData lastScan_;
  std::unique_ptr<QStandardItemModel> tableModel_;
  std::unique_ptr<tovik::PointTable> table_;
  std::array<int, 16> channelNumber_{};
  QString captureFileName_;

  // Playback state of the Offline tab.
  bool paused_ = false;
  bool forwardMode_ = false;
  int forwardSpeedStep_ = 1;
  int backwardSpeedStep_ = 1;
  bool stepForward_ = true;
  bool stepBackward_ = false;
  int playCount_ = 1;
  bool playing_ = false;
  bool playbackFinished_ = false;
  int frameIndex_ = 0;
  int packetsPerFrame_ = 30;
  // The loaded capture; packetList points into its index, the payloads into its mapping.
  std::unique_ptr<tovik::capture::CaptureFile> capture_;
  const uint8_t* const* packetList_ = nullptr;
  uint32_t packetCount_ = 0;
  int packetFrameCount_ = 0;
  // A sensor type was chosen for the loaded capture (SelectLidar may be closed without one).
  bool sensorChosen_ = false;
  // The mode window's sensor type for the engine, kept while a run may read the engine's own
  // field and handed over before the next start; null when there is none.
  QString pendingEngineSensor_;
  // Puts both seek buttons back to normal speed.
  void resetSeekButtons();
  // What the loaded capture's device packets say about the sensor that recorded it.
  tovik::CaptureDescription captureDescription_;
  // At open: the sensor window's row, the angle mode, the distance resolution and the mode
  // window follow the capture's device packets (when it has them).
  void applyCaptureDescription();
  // The device vertical angles a revolution is placed with: the capture's own while it plays
  // (when it recorded them), else the table of the live device's last packet.
  tovik::AngleTable deviceAnglesForPass() const;
  // The revolution index of the loaded capture (null until the sensor type is known).
  std::shared_ptr<const tovik::RevolutionIndex> seekIndex_;
  bool canSeek() const;
  // Shows revolution (from 0, clamped to the index), playing or paused; after the end of the
  // file the engine starts again held at its gate to show it.
  void seekToRevolution(int revolution);
  void showCaptureTime(int revolution);
  // The keyboard shortcuts (app/shortcuts.h) and the Help window listing them.
  void createShortcuts();
  std::vector<tovik::Shortcut> shortcuts_;
  tovik::ShortcutsHelp* shortcutsHelp_ = nullptr;  // a child of the window

  int echoMode_ = 0;
  int degreeMode_ = 0;
  int accuaryMode_ = 0;
  bool awaitingFirstStatus_ = true;
  bool recording_ = false;

  // CSV export request.
  bool csvRequested_ = false;
  bool csvSaving_ = false;
  int csvFrames_ = 1;
  float csvAngleMin_ = 0.0f;
  float csvAngleMax_ = 360.0f;
  QList<int> csvLines_;
  // The file of the running export and its revolution counter; see app/manwindow_export.cpp.
  tovik::CsvExport csvExport_;
  // Asks for the CSV file name given the default one; empty means cancelled. Unset: Qt's own
  // save-file dialog.
  std::function<QString(const QString&)> csvFileNameProvider_;
  tovik::csv::RowOptions csvRowOptions() const;
  // The CSV pass of one revolution (lastScan) while csvSaving is set.
  void writeCsvRevolution(const tovik::AngleTable& deviceAngles);
  // Places, tabulates, exports and schedules the drawing of one revolution; keeps it as lastScan_.
  void passRevolution(const LidarData& revolution);
  // Shows the end of an export in the status bar, or its failure in a message box.
  void reportCsvOutcome(tovik::CsvExport::Outcome outcome);
  // PCD/PLY export of the shown revolution or of the selected points: the button with its menu
  // beside the CSV export, made in code (app/manwindow_export.cpp).
  void createCloudExportButton();
  // Asks for a file name and writes the points; false when nothing was written (cancelled,
  // nothing to write, or a failure the operator is shown).
  bool exportCloud(bool selectedOnly);
  // Asks for the cloud file name given the default one; empty means cancelled. Unset: Qt's own
  // save-file dialog.
  std::function<QString(const QString&)> cloudFileNameProvider_;
  void showExportFailure(const QString& text, const QString& boxName);
  // The status bar's stop control of a running export, which also shows its progress.
  QToolButton* csvStopButton_ = nullptr;
  void showCsvProgress();
  // A temporary status-bar message: it goes after a few seconds and never hides the link state
  // or the health read-out, which are permanent widgets.
  void notify(const QString& text);

  bool displayEnabled_ = true;
  bool engineeringMode_ = false;
  QToolButton* engineeringButton_ = nullptr;
  // Degrees: azimuths strictly between the limit and 360 minus the limit are not drawn.
  float displayAngleLimit_ = 180.0f;
  // Next selection row of the point table; wraps at selectedCount.
  int selectionRowCounter_ = 0;

  // Owned threads and windows, created once without Qt parents.
  std::unique_ptr<Form_QLaserSelection> laserSelection_;
  std::unique_ptr<ACWPSettingWidget> acwpSetting_;
  std::unique_ptr<InetactionSetupWidget> inetactionSetup_;
  std::unique_ptr<About> about_;
  std::unique_ptr<GetlidarData_1> getlidarData1_;
  std::unique_ptr<GetlidarData> getlidarData_;
  std::unique_ptr<GetSet> getSet_;
  std::unique_ptr<VerticalAngleSetting> verticalAngleSetting_;
  std::unique_ptr<SaveDataOptions> saveDataOptions_;
  std::unique_ptr<ReadLiveOffData> readLiveOffData_;
  std::unique_ptr<SelectLidar> selectLidar_;
  std::unique_ptr<SetLidarModes> setLidarModes_;

  // Coalesced redraw: every revolution runs the pass, only the newest one is drawn.
  QTimer redrawTimer_;
  bool redrawPending_ = false;
  // Drawn revolutions still to be framed by the camera (after start-up, Connect and Clear).
  static constexpr int kCameraFits = 2;
  int cameraFitsPending_ = kCameraFits;
  uint64_t revolutionsPassed_ = 0;
  uint64_t framesDrawn_ = 0;
  size_t drawnPointCount_ = 0;

  // Timings of the soak benchmark's log (setPerfLog), reset every second.
  struct PerfWindow {
    int64_t passNs = 0, redrawNs = 0, maxWaitNs = 0;
    uint64_t passes = 0, redraws = 0;
  };
  PerfWindow perf_;
  QElapsedTimer perfClock_;
  // When the revolution waiting to be drawn arrived (perfClock_ time).
  int64_t newestArrivalNs_ = 0;
  std::unique_ptr<QFile> perfLog_;
  void writePerfLine(uint64_t receivedRevolutions);

  // Status bar: the link state and the receiver health, refreshed once a second.
  QLabel* linkLabel_ = nullptr;
  // Why the last point receiver could not start; cleared by Connect and by a start.
  QString receiverFailure_;
  // Why the device status receiver could not start (empty when it runs).
  QString deviceReceiverFailure_;
  // Revolutions and points playback has emitted in its current run, for its read-out; counted
  // on the engine's thread as it emits them, so no revolution is copied for this.
  struct PlaybackTally {
    std::atomic<uint64_t> revolutions{0}, points{0};
  };
  PlaybackTally playbackTally_;
  QLabel* linkStateLabel_ = nullptr;
  QLabel* healthLabel_ = nullptr;
  QTimer statusTimer_;
  QElapsedTimer healthClock_;
  const QThread* healthSource_ = nullptr;
  tovik::HealthReadout health_;

  // The Record button and the capture interface combo (app/record_controller.h). Declared last
  // so that it is destroyed first: a running recording is closed while the form still exists.
  std::unique_ptr<tovik::RecordController> recordController_;
  void createRecordController();
};
