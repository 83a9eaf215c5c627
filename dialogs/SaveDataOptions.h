// The save-data options window of a CSV export: how many revolutions, which azimuth range and
// which of the 16 channels. It validates the entries and hands them over in one signal; it
// knows nothing of files or points.
#pragma once

#include <QList>
#include <QWidget>
#include <array>
#include <memory>

class QCheckBox;
// NOLINTNEXTLINE(readability-identifier-naming): uic puts the form classes in namespace Ui.
namespace Ui {
class SaveDataOptions;
}

class SaveDataOptions : public QWidget {
  Q_OBJECT

 public:
  explicit SaveDataOptions(QWidget* parent = nullptr);
  ~SaveDataOptions() override;

  static constexpr int kChannels = 16;

  // The fixed vertical angle label of table row r, whole degrees: r - 15 for even r, r for odd r.
  static int rowAngle(int row) { return row % 2 == 0 ? row - 15 : row; }

 signals:
  // isSave: confirmed with OK; freams: revolutions to write, at least 1 when isSave is true;
  // angleMin..angleMax: azimuth range in degrees, bounds included; lines: the checked channel
  // indices 0..15 in ascending order, possibly empty.
  void sendOptions(bool isSave, int freams, float angleMin, float angleMax, QList<int> lines);

 public slots:
  // Validates the entries; emits and hides on success, otherwise warns and keeps the window.
  void onOk_Clicked();
  // Emits the cancel values (false, 1, 0, 360, no channel) and hides; the entries stay.
  void onCancel_Clicked();
  // Sets all 16 channel check boxes to the state of "Select all".
  void SelectAllClicked();  // NOLINT(readability-identifier-naming): the window's fixed slot name

 private:
  // A modal box without parent, title "Warning", one "OK" button.
  static void warn(const QString& text);

  std::unique_ptr<Ui::SaveDataOptions> ui_;
  // Owned by the table as cell widgets.
  std::array<QCheckBox*, kChannels> channelBoxes_{};
};
