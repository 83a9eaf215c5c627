// The simulated lidar's settings and status: what its device information packets report, what
// the configuration datagrams change, and where it really binds and sends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/sim/scene.h"

namespace tovik::sim {

using Ipv4 = std::array<uint8_t, 4>;
using MacAddress = std::array<uint8_t, 6>;

constexpr size_t kDatagramSize = 1206;

// Ports and addresses of the device as shipped.
constexpr uint16_t kDefaultDataPort = 2368;
constexpr uint16_t kDefaultDevicePort = 2369;
constexpr const char* kDefaultLidarAddress = "127.0.0.2";
constexpr const char* kDefaultDestAddress = "127.0.0.1";
constexpr const char* kDefaultMulticastGroup = "224.1.1.1";

// Motor states and lidar states as the device encodes them.
enum MotorState : uint16_t { kMotorRun = 0, kMotorStop = 1, kMotorOutputRate = 2 };
enum LidarStatus : uint16_t { kLidarRunning = 0, kLidarSleep = 1 };

struct SimConfig {
  bool dualReturn = false;  // dual-return layout (echo mode 1)
  int rpm = 600;            // 300, 600 or 1200 on the real device
  int degreeMode = 0;       // 0: 2 degree vertical table, 1: 1.33 degree
  int accuaryMode = 0;      // 0: 0.25 cm per count, 1: 0.4 cm per count
  // Where the simulator binds (always 127/8) and where it sends (127/8 or a multicast group).
  std::string lidarAddress = kDefaultLidarAddress;
  std::string destAddress = kDefaultDestAddress;
  uint16_t dataPort = kDefaultDataPort;
  uint16_t devicePort = kDefaultDevicePort;
  // Simulated clock at the first firing, ns since the Unix epoch (UTC). Fixed by default so a
  // run is reproducible; the tool sets it to the current time.
  uint64_t startTimeNs = 1700000000ull * 1000000000ull;
  double startAzimuthDeg = 0.0;
  uint64_t seed = 1;     // range noise and the factory calibration of the vertical angles
  double noiseCm = 1.0;  // range noise amplitude (uniform in +-noiseCm); 0 for exact distances
  SceneLayout scene = SceneLayout::defaultRoom();
  // A channel whose vertical angle is off by angleErrorDeg on top of its calibration (a
  // mistaken calibration); -1 for none.
  int angleErrorChannel = -1;
  double angleErrorDeg = 0.0;
};

// Largest calibration offset of a channel from the nominal table, in hundredths of a degree.
constexpr int kMaxCalibrationOffset = 50;

// The factory-calibrated vertical angles of a device configured by config, in hundredths of a
// degree: the nominal table of its angle mode, each channel moved by up to
// kMaxCalibrationOffset as the seed decides (the same seed, the same angles), then the angle
// error of config added. The simulator's beams fire at these angles.
std::array<int, 16> calibratedVerticalAngles(const SimConfig& config);

struct SimState {
  // Point data stream.
  bool dualReturn = false;
  uint16_t rpm = 600;
  int degreeMode = 0;
  int accuaryMode = 0;

  // Network settings as reported in the device packets.
  Ipv4 lidarIp{};
  Ipv4 destIp{};
  MacAddress mac{};
  uint16_t dataPort = kDefaultDataPort;
  uint16_t devicePort = kDefaultDevicePort;
  Ipv4 ntpIp{};

  // Where the simulator really binds and sends: always on this machine. A configuration that
  // names another address changes the reported fields only.
  std::string listenAddress = kDefaultLidarAddress;
  std::string sendAddress = kDefaultDestAddress;

  uint16_t motorState = kMotorRun;
  uint16_t packetInterval = 0;
  uint16_t lidarStatus = kLidarRunning;
  uint16_t ppsAngle = 0;         // hundredths of a degree
  uint16_t ppsDeviationRaw = 0;  // hundredths of a degree; a negative v is stored as v + 65535
  int64_t clockOffsetNs = 0;     // device clock minus simulated UTC, set by configurations

  std::string latitude;   // exactly 10 characters
  std::string longitude;  // exactly 10 characters
  char latitudeSuffix = 'N';
  char longitudeSuffix = 'E';
  double temperatureC = 41.0;  // plate 2, before the slow drift added per packet
  std::array<uint8_t, 2> lvds{};
  uint8_t gpsState = 1;
  uint8_t ppsState = 1;
  uint8_t highTempPause = 0;
  uint16_t stopTemperatureRaw = 0;
  std::array<uint8_t, 10> voltage{};
  uint16_t board2HvRaw = 0;
  uint16_t board2HvAdjust = 0;
  uint8_t board2Threshold = 0;
  uint8_t cleanliness = 0;

  // Advanced parameters.
  uint16_t rangeX100 = 20000;  // measuring range in metres x 100; 0 means no limit
  uint16_t tailThreshold = 0;
  uint16_t tailDistanceCm = 0;
  uint8_t zeroDegreePosition = 0;
  uint16_t horizontalOffsetRaw = 0;  // hundredths of a degree, as received
  uint16_t encoderZeroRaw = 0;       // hundredths of a degree, as received

  // Vertical angle of each channel in hundredths of a degree, negative v stored as v + 65535.
  std::array<uint16_t, 16> verticalAnglesRaw{};

  std::array<uint8_t, 20> lidarId{};
  std::array<uint8_t, 10> boardVersions{};  // five (major, minor) pairs
  std::array<uint8_t, 2> fpga2Version{};
  std::array<uint8_t, 4> fpga3Date{};  // leading part of the FPGA 3rd board version

  // Data flows while the motor turns and the lidar is awake.
  bool streaming() const {
    return motorState != kMotorStop && lidarStatus != kLidarSleep && rpm > 0;
  }
  // Signed vertical angle of channel ch in degrees.
  double verticalAngleDeg(int ch) const;
  // Vertical angle spacing reported at bytes 1194-1195: 133 or 200.
  uint16_t angleSpacing() const { return degreeMode == 1 ? 133 : 200; }
  // FPGA 3rd board major and (minor << 4 | patch): a major of 3 or more with a minor of 5..9
  // tells the receiver that distances count 0.4 cm.
  uint8_t fpga3Major() const { return 3; }
  uint8_t fpga3MinorPatch() const { return accuaryMode == 1 ? 0x50 : 0x20; }
};

// The state a device configured by config starts in (and returns to on factory defaults).
SimState initialState(const SimConfig& config);

// Device information packet (kDatagramSize bytes, big-endian fields) reporting state, with the
// device clock at utcNs + state.clockOffsetNs.
void buildDevicePacket(const SimState& state, uint64_t utcNs, uint8_t* out);

// The device's encoding of a signed hundredths value: negative v is written as v + 65535.
uint16_t encodeSigned(int v);
int decodeSigned(uint16_t raw);

// Kinds of datagram the device answers to on its data port and its device packet port.
enum class DatagramKind { Unknown, NetworkConfig, Advanced, FactoryDefault, VerticalAngles };
DatagramKind classifyDatagram(const uint8_t* d, size_t n);

// Applies a configuration datagram to state. factory is the state restored by the factory
// default packet before its own fields apply; utcNs is the simulated time now (for the clock
// fields). Returns one log line naming the kind and what changed, or an empty string when the
// datagram is not a configuration of this device (state untouched).
std::string applyConfigDatagram(SimState& state, const SimState& factory, const uint8_t* d,
                                size_t n, uint64_t utcNs);

// Why a datagram was not applied, for the log ("37 bytes, starts 01 02 03 ...").
std::string describeIgnored(const uint8_t* d, size_t n);

std::string formatIpv4(const Ipv4& ip);
bool parseIpv4(const std::string& text, Ipv4* out);

}  // namespace tovik::sim
