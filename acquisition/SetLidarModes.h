// The window in which the operator chooses, for live reception, the sensor type (single- or
// dual-return packets), the vertical angle mode and the distance resolution. It reports only on
// OK; the main window can pre-set it from the first device information packet.
#pragma once

#include <QString>
#include <QWidget>

class QButtonGroup;

// NOLINTNEXTLINE(readability-identifier-naming): uic puts the form classes in namespace Ui.
namespace Ui {
class SetLidarModes;
}

class SetLidarModes : public QWidget {
  Q_OBJECT

 public:
  explicit SetLidarModes(QWidget* parent = nullptr);
  ~SetLidarModes() override;

 private:
  Ui::SetLidarModes* ui_;
  // Each row of check boxes is exclusive. Button ids are the codes they select:
  // echo 0 "FirstEcho", 1 "SecondEcho"; angle 0 "2°", 1 "1.33°"; resolution 0 "0.25cm", 1 "0.4cm".
  QButtonGroup* echoGroup_ = nullptr;
  QButtonGroup* degreeGroup_ = nullptr;
  QButtonGroup* resolutionGroup_ = nullptr;

 public:
  QString sensorType = QStringLiteral("Tovik161");  // live sensor type to report
  int degree = 0;                                   // degreeMode: 0 2° table, 1 1.33° table
  int resolution = 0;                               // accuaryMode: 0 0.25 cm, 1 0.4 cm per count

 signals:
  // (sensor type "Tovik161"/"Tovik162", degreeMode, accuaryMode), emitted on OK.
  void sendConfig(QString, int, int);

 public slots:
  // Clicks echo button 0 for "Tovik161" and 1 for "Tovik162" (other texts leave the echo row
  // alone), the angle button with id degreeMode and the resolution button with id accuaryMode;
  // each click runs its select slot, so the members follow. Ids other than 0 and 1 click nothing.
  void setConfig(QString echoMode, int degreeMode, int accuaryMode);
  // Builds the button groups and the connections; the constructor calls it once.
  void initSetting();
  void selectEchoMode(int id);
  void selectDegreeMode(int mode);
  void selectAccuaryMode(int id);
  // Emits sendConfig(sensorType, degree, resolution); the window stays open.
  void onOkButton();
};
