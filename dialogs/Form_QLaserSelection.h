// The window in which the operator chooses which of the 16 channels the 3D view displays. Rows
// are sorted by nominal vertical angle; OK stores the check boxes as per-row flags, which the
// point cloud builder reads for every revolution.
#pragma once

#include <QWidget>
#include <array>

class QCheckBox;

// NOLINTNEXTLINE(readability-identifier-naming): uic puts the form classes in namespace Ui.
namespace Ui {
class Form_QLaserSelection;
}

class Form_QLaserSelection : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRows = 16;
  // Channel ch is listed in table row kChannelToRow[ch].
  static constexpr std::array<int, kRows> kChannelToRow{0, 8,  1, 9,  2, 10, 3, 11,
                                                        4, 12, 5, 13, 6, 14, 7, 15};

  explicit Form_QLaserSelection(QWidget* parent = nullptr);
  ~Form_QLaserSelection() override;

  // Flag by table row (1 shown, 0 hidden) as of the last OK; all 1 at construction.
  const std::array<int, kRows>& rowEnabled() const { return rowEnabled_; }
  // Whether channel 0..15 is displayed; false for any other number.
  bool channelShown(int channel) const;
  // The last value given to ReceiveDegreeMode (0 at construction).
  int angleMode() const { return angleMode_; }

 signals:
  // Emitted after OK has stored new flags.
  void sendChannelFlags();

 public slots:
  // Closes the window; the flags stay as they are and so do the check boxes.
  void onCancel_Clicked();
  // Stores every row's check box as its flag; the window stays open.
  void onOk_Clicked();
  // NOLINTBEGIN(readability-identifier-naming): slot names the main window and forms rely on.
  // "All/All no choice": unchecks all rows, or checks them all, by the shared toggle flag.
  void Checkstate();
  // "Switch selection": checks the even rows only, or the odd rows only, by the shared toggle
  // flag.
  void Parity();
  // "Applicable to future dialogs": re-checks the rows already checked (no visible effect).
  void Checkstate2();
  // NOLINTEND(readability-identifier-naming)
  // Stores the angle mode; 0 and 1 relabel the angle and channel columns, other values change
  // no text.
  void ReceiveDegreeMode(int ReturnModel);

 private:
  void fillColumns(int mode);

  Ui::Form_QLaserSelection* ui_;
  int angleMode_ = 0;
  std::array<int, kRows> rowEnabled_;
  // Shared by Checkstate and Parity: each action's effect depends on how often either ran.
  bool toggle_ = false;
  std::array<QCheckBox*, kRows> rowBoxes_{};  // owned by the table
};
