// The texts in which the dialogs show a device information record: the live status of the
// network settings window and the board versions of the About window. Numbers are decimal
// without leading zeros unless a form says otherwise.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "device/setting_data.h"

namespace tovik {

// RPM; 100 or less shows "0".
QString motorSpeedText(const SettingData& s);
// "year/month/day hour:minute:second", year = 2000 + the device's year byte, no zero padding.
QString gpsTimeText(const SettingData& s);
// Degrees with exactly two decimals.
QString ppsSetAngleText(const SettingData& s);
// Degrees in the general format with six significant digits ("327.67", "-15", "0").
QString ppsDeviationText(const SettingData& s);
// "0" when the PPS is locked (deviation within +-15 degrees), else "1".
QString ppsLockText(const SettingData& s);
// The ten text characters followed by the suffix: always 11 characters, Latin-1.
QString latitudeText(const SettingData& s);
QString longitudeText(const SettingData& s);
// Mac elements 0-5 as two-digit lowercase hexadecimal numbers joined by "-"; empty when the
// vector is shorter than six elements.
QString macAddressText(const std::vector<int>& mac);
// Degrees Celsius with two decimals.
QString plate2TemperatureText(const SettingData& s);
QString stopTemperatureText(const SettingData& s);
// The ten byte values written one after the other without separator.
QString plate3VoltageText(const SettingData& s);
QString gpsStateText(const SettingData& s);
QString ppsStateText(const SettingData& s);
QString highTempPauseText(const SettingData& s);

// Selector entries and the entry a record selects. An index of -1 means "leave the selector
// as it is" (a code outside the list).
QStringList lvdsItems();
int lvdsIndex(const SettingData& s);
QString lvdsText(const SettingData& s);

QStringList cleanlinessItems();
int cleanlinessIndex(const std::vector<int>& mac);     // Mac element 19
QString cleanlinessText(const std::vector<int>& mac);  // empty for other codes

QStringList lidarStatusItems();
// The 16-bit value at packet byte 44 (0 Running, 1 Sleep), unchecked: the settings window sets
// its selector to exactly this index. packet points to a full device information packet.
int lidarStatusIndex(const uint8_t* packet);
QString lidarStatusText(const uint8_t* packet);  // empty for other codes

QStringList motorStateItems();
int motorStateIndex(const SettingData& s);
QString motorStateText(const SettingData& s);  // empty for other codes

// Positions in the versions list.
enum VersionEntry : int {
  kVersionFpga2 = 0,
  kVersionFpga3 = 1,
  kVersionLidarId = 2,
  kVersionHardware2 = 3,
  kVersionHardware3 = 4,
  kVersionEmission = 5,
  kVersionReceive = 6,
  kVersionStructure = 7,
  kVersionCount = 8,
};

// FPGA 2nd board: "V" major "." minor "." patch, e.g. "V3.2.5".
QString fpga2VersionText(const SettingData& s);
// FPGA 3rd board: the first two numbers back to back, then "." n3 "." n4 "-V." major "." minor
// "." patch, e.g. "2021.3.11-V.3.0.7".
QString fpga3VersionText(const SettingData& s);
// The 20 ID bytes as 20 Latin-1 characters; a zero byte stays a NUL character.
QString lidarIdText(const SettingData& s);
// Board pair i (0 hardware 2nd, 1 hardware 3rd, 2 emission, 3 receive, 4 structure):
// "V" major "." minor.
QString boardVersionText(const SettingData& s, int board);
// The eight entries in VersionEntry order, for the About window.
QStringList deviceVersions(const SettingData& s);

}  // namespace tovik
