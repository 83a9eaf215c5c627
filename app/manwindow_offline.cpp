// The main window's Offline tab: loading a capture file into the packet table, the playback
// buttons that steer the playback engine (ReadLiveOffData) through playDirection, playSpeed,
// stepPending and its gate, seeking by revolution, closing the capture, and the keyboard.
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QIcon>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "acquisition/ReadLiveOffData.h"
#include "acquisition/SelectLidar.h"
#include "acquisition/capture_file.h"
#include "acquisition/revolution_index.h"
#include "app/manwindow.h"
#include "app/point_cloud_view.h"
#include "app/shortcuts_help.h"
#include "ui_manwindow.h"

namespace {

constexpr int kProgressSteps = 100;

// Icons swapped at run time, compiled in: the viewer keeps them whatever its working directory.
constexpr char kPlayIcon[] = ":/image/Resources/images/Play.png";
constexpr char kPauseIcon[] = ":/image/Resources/images/Pause.png";
constexpr char kSeekForwardIcon[] = ":/image/Resources/images/Seekforward.png";
constexpr char kSeekBackwardIcon[] = ":/image/Resources/images/Seekbackward.png";
constexpr char kBusyIcon[] = ":/image/Resources/image/corvane.png";

void setIcon(QAbstractButton* button, const char* file) {
  button->setIcon(QIcon(QString::fromLatin1(file)));
}

// One row of a seek button's speed cycle.
struct SpeedStep {
  const char* icon;
  int nextStep;
  int speed;
};

// Indexed by the current step 1..5.
constexpr SpeedStep kForwardCycle[] = {
    {":/image/Resources/images/Seekforward_2x.png", 2, 1},
    {":/image/Resources/images/Seekforward_3x.png", 3, 2},
    {":/image/Resources/images/Seekforward_0.5x.png", 4, 3},
    {":/image/Resources/images/Seekforward_0.25x.png", 5, 4},
    {kSeekForwardIcon, 1, 0},
};
constexpr SpeedStep kBackwardCycle[] = {
    {kSeekBackwardIcon, 2, 0},
    {":/image/Resources/images/Seekbackward_2x.png", 3, 1},
    {":/image/Resources/images/Seekbackward_3x.png", 4, 2},
    {":/image/Resources/images/Seekbackward_0.5x.png", 5, 3},
    {":/image/Resources/images/Seekbackward_0.25x.png", 1, 4},
};

const SpeedStep& cycleRow(const SpeedStep (&cycle)[5], int step) {
  return cycle[(step >= 1 && step <= 5 ? step : 1) - 1];
}

// A span of capture time as "m:ss.zzz" (hours added when there are any).
QString captureSpan(uint64_t ns) {
  const uint64_t ms = ns / 1000000;
  const uint64_t s = ms / 1000, m = s / 60, h = m / 60;
  QString text = QStringLiteral("%1:%2.%3")
                     .arg(m % 60)
                     .arg(s % 60, 2, 10, QLatin1Char('0'))
                     .arg(ms % 1000, 3, 10, QLatin1Char('0'));
  if (h > 0) text = QStringLiteral("%1:%2").arg(h).arg(text, 9, QLatin1Char('0'));
  return text;
}

}  // namespace

// --- Loading -------------------------------------------------------------------------------

void manwindow::onOpenCapture() {
  captureFileName_ =
      QFileDialog::getOpenFileName(this, QStringLiteral("WireSharkCaptureFile"), QString(),
                                   QStringLiteral("Supported Files (*.pcap *.pcapng)"), nullptr,
                                   QFileDialog::DontUseNativeDialog);
  QApplication::processEvents();
  if (captureFileName_.isEmpty()) return;
  openCapture(captureFileName_);
}

bool manwindow::openCapture(const QString& path) {
  auto next = std::make_unique<tovik::capture::CaptureFile>();
  bool opened = false;
  {
    QProgressDialog progress(tr("Opening file..."), QString(), 0, kProgressSteps, this);
    progress.setWindowTitle(QStringLiteral("Please wait a moment"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setFixedWidth(200);
    progress.setMinimumDuration(5);
    progress.setWindowIcon(QIcon(QString::fromLatin1(kBusyIcon)));
    progress.setValue(0);
    const QByteArray name = QFile::encodeName(path);
    opened = next->open(std::string(name.constData(), size_t(name.size())),
                        [&progress](size_t done, size_t total) {
                          if (total > 0) progress.setValue(int(done * kProgressSteps / total));
                        });
  }
  if (!opened) {
    std::printf("%s\n", next->errorString().c_str());
    std::fflush(stdout);
    QMessageBox::warning(
        this, QStringLiteral("error"),
        tr("Cannot open %1:\n%2").arg(path, QString::fromStdString(next->errorString())));
    return false;
  }
  if (next->pointCount() == 0) {
    QMessageBox::warning(this, QStringLiteral("Tips"),
                         tr("The file %1 holds no point data.").arg(path));
    return false;
  }

  // The engine reads the old table until it has stopped; only then is the old capture freed.
  readLiveOffData_->requestStop();
  // Playback of the old capture has ended: the live receiver it stopped starts again.
  resumeParkedLive();
  if (playCount_ > 1) {
    cancelPendingRedraw();
    viewer_->clearAll();
    cameraFitsPending_ = kCameraFits;
  }
  playCount_ = 1;
  sensorChosen_ = false;
  capture_.swap(next);
  packetList_ = capture_->index().pointPackets.data();
  packetCount_ = uint32_t(capture_->pointCount());
  readLiveOffData_->setPackets(packetList_, packetCount_);
  readLiveOffData_->setPacketTimes(capture_->index().pointTimesNs.data());
  readLiveOffData_->setSourceCheck([file = capture_.get()] { return !file->changedOnDisk(); });
  // The index of the old capture is of no use; the new one waits for the sensor type.
  seekIndex_.reset();
  readLiveOffData_->setSeekIndex(nullptr);
  next.reset();
  applyCaptureDescription();
  // Another program shortened or rewrote the file under playback: stop, say so, and offer only
  // Open until a file is loaded again.
  disconnect(readLiveOffData_.get(), &ReadLiveOffData::SendFileChanged, this, nullptr);
  connect(readLiveOffData_.get(), &ReadLiveOffData::SendFileChanged, this, [this, path] {
    readLiveOffData_->requestStop();
    FinshorStart(true);
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui_->toolButton_Play, ui_->toolButton_GoToEnd, ui_->toolButton_GoToStart,
             ui_->toolButton_SeekBackward, ui_->toolButton_SeekForward, ui_->Spbox_Frame,
             ui_->Slider_Frame})
      w->setEnabled(false);
    QMessageBox::warning(this, QStringLiteral("Warning"),
                         tr("The file %1 changed on disk while it played.\nPlayback has stopped; "
                            "open the file again to play it.")
                             .arg(path));
  });

  setIcon(ui_->toolButton_Play, kPlayIcon);
  paused_ = true;
  playing_ = false;
  frameIndex_ = 0;

  packetsPerFrame_ = tovik::capture::estimatePacketsPerFrame(capture_->index().pointPackets);
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui_->toolButton_Play, ui_->toolButton_GoToEnd, ui_->toolButton_GoToStart,
           ui_->toolButton_SeekBackward, ui_->toolButton_SeekForward, ui_->Spbox_Frame,
           ui_->toolButton_Close})
    w->setEnabled(true);
  resetTable(true);

  packetFrameCount_ = tovik::capture::frameCountFor(packetCount_, packetsPerFrame_);
  ui_->Spbox_Frame->setRange(0, packetFrameCount_);
  ui_->Slider_Frame->setRange(0, packetFrameCount_);
  ui_->Spbox_Frame->setValue(frameIndex_);
  ui_->Slider_Frame->setEnabled(true);
  showCaptureTime(-1);
  // Loaded from the command line the Offline tab may not be the one shown.
  for (int i = 0; i < ui_->tabWidget->count(); ++i)
    if (ui_->tabWidget->widget(i)->isAncestorOf(ui_->toolButton_Play))
      ui_->tabWidget->setCurrentIndex(i);
  notify(tr("%1: %2 point packets, about %3 revolutions")
             .arg(path)
             .arg(packetCount_)
             .arg(packetFrameCount_));
  return true;
}

// --- Playback buttons ------------------------------------------------------------------------

void manwindow::resetSeekButtons() {
  setIcon(ui_->toolButton_SeekForward, kSeekForwardIcon);
  forwardSpeedStep_ = 1;
  setIcon(ui_->toolButton_SeekBackward, kSeekBackwardIcon);
  backwardSpeedStep_ = 1;
  playSpeed = 0;
}

void manwindow::onPlay() {
  resetSeekButtons();
  ui_->toolButton_Open->setEnabled(false);
  if (paused_) {
    // Live and played revolutions never share the view (nor the frame counter).
    parkLiveReceivers();
    setIcon(ui_->toolButton_Play, kPauseIcon);
    paused_ = false;
    playing_ = true;
    stepForward_ = true;
    stepBackward_ = false;
    stepPending = 0;
    playDirection = 1;
    // The sensor type is asked for once per capture (playCount > 1 implies a Play before it).
    if (!sensorChosen_) {
      // The engine is started by ReceiveSensor once a sensor type is chosen.
      selectLidar_->show();
      forwardSpeedStep_ = 1;
    } else if (!readLiveOffData_->isRunning()) {
      startEngine();
    } else {
      readLiveOffData_->playGate.open();
      if (playbackFinished_) {
        frameIndex_ = 0;
        ui_->Spbox_Frame->setValue(frameIndex_);
      }
    }
    ++playCount_;
    ui_->toolButton_GoToEnd->setEnabled(false);
    ui_->toolButton_GoToStart->setEnabled(false);
  } else {
    setIcon(ui_->toolButton_Play, kPlayIcon);
    paused_ = true;
    stepForward_ = true;
    if (playCount_ > 1) {
      if (playbackFinished_) {
        frameIndex_ = 0;
        ui_->Spbox_Frame->setValue(frameIndex_);
        playbackFinished_ = false;
        forwardSpeedStep_ = 1;
        playSpeed = 0;
        setIcon(ui_->toolButton_SeekForward, kSeekForwardIcon);
      } else {
        // Returns once the engine is between two packets.
        readLiveOffData_->playGate.close();
      }
    }
    // Paused before a sensor type was chosen: nothing plays, so live reception goes on, and
    // its revolutions do not move the frame counter.
    if (!readLiveOffData_->isRunning()) {
      playing_ = false;
      resumeParkedLive();
    }
    ui_->toolButton_GoToEnd->setEnabled(true);
    ui_->toolButton_GoToStart->setEnabled(true);
  }
}

void manwindow::ReceiveSensor(QString str) {
  readLiveOffData_->requestStop();
  readLiveOffData_->sensorType = QString::fromLatin1(
      str == QLatin1String(tovik::kSensorSingleOffline) ? tovik::kSensorSingleOffline
                                                        : tovik::kSensorDualOffline);
  // The operator's choice is newer than any the mode window left for the engine.
  pendingEngineSensor_ = QString();
  sensorChosen_ = true;
  prepareSeekIndex();
  startEngine();
}

void manwindow::startEngine() {
  // Live and played revolutions never share the view.
  parkLiveReceivers();
  if (!pendingEngineSensor_.isNull()) {
    readLiveOffData_->sensorType = pendingEngineSensor_;
    pendingEngineSensor_ = QString();
    prepareSeekIndex();
  }
  readLiveOffData_->setPackets(packetList_, packetCount_);
  // Paused while the sensor window was open: the engine starts held at its gate, and Play
  // opens it.
  if (paused_)
    readLiveOffData_->playGate.close();
  else
    readLiveOffData_->playGate.open();
  playbackTally_.revolutions = 0;
  playbackTally_.points = 0;
  readLiveOffData_->start(QThread::InheritPriority);
  playbackFinished_ = false;
}

void manwindow::onSeekForward() {
  if (!forwardMode_) {
    setIcon(ui_->toolButton_SeekBackward, kSeekBackwardIcon);
    forwardSpeedStep_ = 5;  // the cycle restarts at normal speed
  }
  forwardMode_ = true;
  stepForward_ = true;
  if (playbackFinished_) {
    setIcon(ui_->toolButton_SeekForward, kSeekForwardIcon);
    forwardSpeedStep_ = 1;
    playSpeed = 0;
    return;
  }
  if (paused_) {
    setIcon(ui_->toolButton_SeekForward, kSeekForwardIcon);
    forwardSpeedStep_ = 1;
    stepBackward_ = false;
    playDirection = 1;
    playSpeed = 0;
    return;
  }
  const SpeedStep& row = cycleRow(kForwardCycle, forwardSpeedStep_);
  setIcon(ui_->toolButton_SeekForward, row.icon);
  forwardSpeedStep_ = row.nextStep;
  playSpeed = row.speed;
  stepBackward_ = false;
  playDirection = 1;
}

void manwindow::onSeekBackward() {
  if (forwardMode_) {
    setIcon(ui_->toolButton_SeekForward, kSeekForwardIcon);
    backwardSpeedStep_ = 1;
    playDirection = -1;
    stepForward_ = false;
  }
  forwardMode_ = false;
  stepBackward_ = true;
  if (frameIndex_ < 2 || playbackFinished_) {
    setIcon(ui_->toolButton_SeekBackward, kSeekBackwardIcon);
    backwardSpeedStep_ = 1;
    playSpeed = 0;
  }
  if (paused_) {
    setIcon(ui_->toolButton_SeekBackward, kSeekBackwardIcon);
    backwardSpeedStep_ = 2;
    playSpeed = 0;
    playDirection = -1;
    stepForward_ = false;
    return;
  }
  const SpeedStep& row = cycleRow(kBackwardCycle, backwardSpeedStep_);
  setIcon(ui_->toolButton_SeekBackward, row.icon);
  backwardSpeedStep_ = row.nextStep;
  playSpeed = row.speed;
  playDirection = -1;
  stepForward_ = false;
}

void manwindow::onGoToStart() {
  if (frameIndex_ != 0 && !playbackFinished_) {
    stepBackward_ = true;
    if (paused_) {
      setIcon(ui_->toolButton_SeekBackward, kSeekBackwardIcon);
      backwardSpeedStep_ = 1;
      playDirection = -1;
      stepForward_ = false;
      if (canSeek()) {
        // Exactly the revolution before the one shown (frameIndex counts from 1).
        if (frameIndex_ >= 2) seekToRevolution(frameIndex_ - 2);
      } else {
        stepPending = 1;
        readLiveOffData_->playGate.open();  // one revolution backward, then the engine waits
      }
    }
  } else if (stepPending == 1) {
    stepPending = 0;
  }
}

void manwindow::onGoToEnd() {
  if (frameIndex_ != 0 && !playbackFinished_) {
    stepForward_ = true;
    if (paused_) {
      setIcon(ui_->toolButton_SeekForward, kSeekForwardIcon);
      forwardSpeedStep_ = 1;
      playDirection = 1;
      stepBackward_ = false;
      if (canSeek()) {
        seekToRevolution(frameIndex_);  // exactly the revolution after the one shown
      } else {
        stepPending = 1;
        readLiveOffData_->playGate.open();  // one revolution forward, then the engine waits
      }
    }
  } else if (stepPending == 1) {
    stepPending = 0;
  }
}

void manwindow::FinshorStart(bool Finshone) {
  if (Finshone) {
    playbackFinished_ = true;
    frameIndex_ = 0;
    ui_->Spbox_Frame->setValue(frameIndex_);
    playSpeed = 0;
    ui_->toolButton_Open->setEnabled(true);
    resetSeekButtons();
    // The end of the file ends playback: the live receiver it stopped starts again.
    resumeParkedLive();
  }
  stepForward_ = true;
  playing_ = false;
  paused_ = true;
  setIcon(ui_->toolButton_Play, kPlayIcon);
  ui_->toolButton_GoToEnd->setEnabled(true);
  ui_->toolButton_GoToStart->setEnabled(true);
  // A seek asked for while the run was ending: the engine starts again, held, to show it.
  if (Finshone && canSeek() && readLiveOffData_->seekPending()) {
    readLiveOffData_->wait();  // it ends within the last packet
    startEngine();
  }
}

// --- Seeking ---------------------------------------------------------------------------------

void manwindow::prepareSeekIndex() {
  if (!capture_) return;
  const QString& sensor = readLiveOffData_->sensorType;
  tovik::RevolutionIndex::Layout layout;
  if (sensor == QLatin1String(tovik::kSensorSingleOffline))
    layout = tovik::RevolutionIndex::Layout::Single;
  else if (sensor == QLatin1String(tovik::kSensorDualOffline))
    layout = tovik::RevolutionIndex::Layout::Dual;
  else
    return;
  // Only dual-return revolutions depend on the echo code: code 2 closes them on the odd blocks,
  // any other code on the even ones.
  const auto sameCuts = [layout](int a, int b) {
    return layout == tovik::RevolutionIndex::Layout::Single ||
           (a == tovik::kSecondEcho) == (b == tovik::kSecondEcho);
  };
  if (seekIndex_ && seekIndex_->layout() == layout && sameCuts(seekIndex_->echoCode(), echoMode_))
    return;
  // About 75 ms for a 1 GB capture (bench_seek): built here, where the operator has just chosen.
  auto index = std::make_shared<tovik::RevolutionIndex>(
      tovik::RevolutionIndex::build(capture_->index().pointPackets, layout, echoMode_));
  seekIndex_ = index;
  readLiveOffData_->setSeekIndex(index);
  if (index->empty()) return;
  // The counter now runs over the revolutions there are, not an estimate.
  packetFrameCount_ = int(index->size());
  const QSignalBlocker spinBlock(ui_->Spbox_Frame), sliderBlock(ui_->Slider_Frame);
  ui_->Spbox_Frame->setRange(0, packetFrameCount_);
  ui_->Slider_Frame->setRange(0, packetFrameCount_);
  ui_->Slider_Frame->setValue(ui_->Spbox_Frame->value());
}

bool manwindow::canSeek() const {
  return capture_ && sensorChosen_ && seekIndex_ && !seekIndex_->empty();
}

void manwindow::seekToRevolution(int revolution) {
  if (!canSeek()) return;
  readLiveOffData_->requestSeek(std::clamp(revolution, 0, int(seekIndex_->size()) - 1));
  if (!readLiveOffData_->isRunning() && paused_) {
    // Played to the end (or never started): the engine starts held at its gate, honours the
    // seek, and Play goes on from there.
    startEngine();
    ui_->toolButton_GoToEnd->setEnabled(true);
    ui_->toolButton_GoToStart->setEnabled(true);
  }
}

void manwindow::onFrameEdited(int value) {
  // The counter follows playback by setting frameIndex first; any other value is the
  // operator's (typed, the arrows, or the slider).
  if (value == frameIndex_ || !canSeek()) return;
  seekToRevolution(std::max(value, 1) - 1);
}

void manwindow::onPlaybackRevolution(int revolution) {
  if (!capture_) return;  // closed while the frame was on its way
  frameIndex_ = revolution + 1;
  ui_->Spbox_Frame->setValue(frameIndex_);
  showCaptureTime(revolution);
}

void manwindow::showCaptureTime(int revolution) {
  if (!capture_) {
    ui_->label_CaptureTime->clear();
    ui_->label_CaptureTime->setToolTip(QString());
    return;
  }
  const tovik::capture::Index& index = capture_->index();
  const uint64_t first = index.firstPointTimeNs;
  uint64_t at = first;
  if (seekIndex_ && revolution >= 0 && size_t(revolution) < seekIndex_->size())
    at = index.pointTimesNs[seekIndex_->start(size_t(revolution)).packet];
  ui_->label_CaptureTime->setText(QStringLiteral("%1 / %2").arg(
      captureSpan(at - first), captureSpan(index.lastPointTimeNs - first)));
  ui_->label_CaptureTime->setToolTip(
      tr("Captured %1")
          .arg(QDateTime::fromMSecsSinceEpoch(qint64(at / 1000000))
                   .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"))));
}

// --- Closing ---------------------------------------------------------------------------------

void manwindow::onCloseCapture() {
  readLiveOffData_->requestStop();
  readLiveOffData_->setPackets(nullptr, 0);
  readLiveOffData_->setPacketTimes(nullptr);
  readLiveOffData_->setSeekIndex(nullptr);
  seekIndex_.reset();
  packetList_ = nullptr;
  packetCount_ = 0;
  packetFrameCount_ = 0;
  capture_.reset();
  selectLidar_->hide();

  paused_ = false;
  playing_ = false;
  playbackFinished_ = false;
  playCount_ = 1;
  sensorChosen_ = false;
  stepForward_ = true;
  stepBackward_ = false;
  stepPending = 0;
  playDirection = 1;
  resetSeekButtons();
  setIcon(ui_->toolButton_Play, kPlayIcon);
  frameIndex_ = 0;
  {
    const QSignalBlocker spinBlock(ui_->Spbox_Frame), sliderBlock(ui_->Slider_Frame);
    ui_->Spbox_Frame->setValue(0);
    ui_->Slider_Frame->setValue(0);
  }
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui_->toolButton_Play, ui_->toolButton_GoToEnd, ui_->toolButton_GoToStart,
           ui_->toolButton_SeekBackward, ui_->toolButton_SeekForward, ui_->Spbox_Frame,
           ui_->Slider_Frame, ui_->toolButton_Close})
    w->setEnabled(false);
  ui_->toolButton_Open->setEnabled(true);
  showCaptureTime(-1);
  // As at the end of the file: the live receiver playback stopped starts again.
  resumeParkedLive();
}

// --- Keyboard --------------------------------------------------------------------------------

void manwindow::createShortcuts() {
  tovik::ShortcutTargets t;
  t.play = ui_->toolButton_Play;
  t.stepBackward = ui_->toolButton_GoToStart;
  t.stepForward = ui_->toolButton_GoToEnd;
  t.seekBackward = ui_->toolButton_SeekBackward;
  t.seekForward = ui_->toolButton_SeekForward;
  t.open = ui_->toolButton_Open;
  t.record = ui_->toolButton_SavePcapData;
  t.exportCsv = ui_->toolButton_11;
  t.seekBy = [this](int revolutions) {
    if (canSeek()) seekToRevolution(std::max(frameIndex_ - 1, 0) + revolutions);
  };
  t.seekFirst = [this] { seekToRevolution(0); };
  t.seekLast = [this] {
    if (canSeek()) seekToRevolution(int(seekIndex_->size()) - 1);
  };
  t.toggleFullScreen = [this] {
    if (isFullScreen())
      showMaximized();
    else
      showFullScreen();
  };
  shortcuts_ = tovik::viewerShortcuts(t);
  tovik::bindShortcuts(this, shortcuts_);

  // The Help tab's entry; the window itself is made on first use.
  auto* help = new QToolButton(this);
  help->setObjectName(QStringLiteral("toolButton_Shortcuts"));
  help->setText(tr("Shortcuts"));
  help->setToolTip(tr("The keyboard shortcuts"));
  help->setIcon(style()->standardIcon(QStyle::SP_MessageBoxQuestion));
  help->setIconSize(ui_->toolButton_About->iconSize());
  help->setMinimumSize(ui_->toolButton_About->minimumSize());
  help->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  help->setAutoRaise(true);
  ui_->layout_Tab_5->insertWidget(ui_->layout_Tab_5->indexOf(ui_->toolButton_About) + 1, help);
  connect(help, &QToolButton::clicked, this, &manwindow::onShowShortcuts);
}

void manwindow::onShowShortcuts() {
  if (shortcutsHelp_ == nullptr) shortcutsHelp_ = new tovik::ShortcutsHelp(shortcuts_, this);
  shortcutsHelp_->show();
  shortcutsHelp_->raise();
}
