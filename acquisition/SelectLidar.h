// The window that asks which sensor recorded a capture file before offline playback starts.
#pragma once

#include <QString>
#include <QWidget>

// NOLINTNEXTLINE(readability-identifier-naming): uic puts the form classes in namespace Ui.
namespace Ui {
class SelectLidar;
}

class SelectLidar : public QWidget {
  Q_OBJECT

 public:
  explicit SelectLidar(QWidget* parent = nullptr);
  ~SelectLidar() override;

  // A capture's device packets named its sensor type ("Tovik16-1" or "Tovik16-2"): that row is
  // selected and a line says "Recorded by the device as ...", so OK confirms it in one click.
  // Any other text clears the selection and the line, as for a capture without device packets.
  void preselect(const QString& sensorType);
  // The sensor type preselected from the capture, or an empty string.
  QString preselected() const { return preselected_; }

 signals:
  // The offline sensor type chosen: "Tovik16-1" (single return) or "Tovik16-2" (dual return).
  void sendData(QString);

 public slots:
  // OK: emits the chosen entry and closes the window; without a chosen entry the operator is
  // told to pick one and the window stays open.
  void ReturnCurrentItem();
  // Close: closes the window without choosing.
  void CloseWindow();

 private:
  Ui::SelectLidar* ui_;
  QString preselected_;
};
