#include "tools/sim/sim_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "acquisition/geometry.h"
#include "tools/sim/address_policy.h"

namespace tovik::sim {

namespace {

constexpr uint8_t kDeviceHeader[8] = {0xA5, 0xFF, 0x00, 0x5A, 0x11, 0x11, 0x55, 0x55};
// Configuration datagrams: the network, factory-default and vertical-angle packets end AA AA,
// the advanced (ACWP) packet BB BB.
constexpr uint8_t kConfigHeader[6] = {0xAA, 0x00, 0xFF, 0x11, 0x22, 0x22};
// Marker at 160 of the vertical-angle packet (and of the advanced packet).
constexpr uint8_t kAngleMarker[8] = {0x55, 0xAA, 0xAA, 0x55, 0x33, 0x33, 0x11, 0x11};

constexpr int kMinRpm = 1;
constexpr int kMaxRpm = 3000;

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
void putBe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

Ipv4 ipAt(const uint8_t* p) { return Ipv4{p[0], p[1], p[2], p[3]}; }

bool allZero(const uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](uint8_t b) { return b == 0; });
}

std::string formatMac(const MacAddress& m) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4],
                m[5]);
  return buf;
}

std::string formatUtc(int64_t ns) {
  std::time_t s = static_cast<std::time_t>(ns / 1000000000);
  std::tm tm{};
  gmtime_r(&s, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

const char* motorStateName(uint16_t v) {
  switch (v) {
    case kMotorRun:
      return "Run";
    case kMotorStop:
      return "Stop";
    case kMotorOutputRate:
      return "OutputRate";
    default:
      return "?";
  }
}

// Collects what an apply changed or refused, for the single log line.
class ChangeLog {
 public:
  void change(const std::string& what, const std::string& from, const std::string& to) {
    if (from != to) items_.push_back(what + " " + from + " -> " + to);
  }
  void note(const std::string& text) { items_.push_back(text); }
  bool empty() const { return items_.empty(); }
  std::string joined() const {
    std::string s;
    for (size_t i = 0; i < items_.size(); ++i) {
      if (i) s += "; ";
      s += items_[i];
    }
    return s;
  }

 private:
  std::vector<std::string> items_;
};

std::string num(long long v) { return std::to_string(v); }

std::string anglesText(const std::array<uint16_t, 16>& raw) {
  std::string s;
  for (int ch = 0; ch < 16; ++ch) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%.2f", ch ? " " : "", decodeSigned(raw[ch]) / 100.0);
    s += buf;
  }
  return s;
}

// Lists every reported or effective field that differs between before and after.
void listChanges(const SimState& a, const SimState& b, ChangeLog& log) {
  log.change("rpm", num(a.rpm), num(b.rpm));
  log.change("echo mode", a.dualReturn ? "dual" : "single", b.dualReturn ? "dual" : "single");
  log.change("lidar IP", formatIpv4(a.lidarIp), formatIpv4(b.lidarIp));
  log.change("destination IP", formatIpv4(a.destIp), formatIpv4(b.destIp));
  log.change("listening on", a.listenAddress, b.listenAddress);
  log.change("sending to", a.sendAddress, b.sendAddress);
  log.change("MAC", formatMac(a.mac), formatMac(b.mac));
  log.change("data port", num(a.dataPort), num(b.dataPort));
  log.change("device port", num(a.devicePort), num(b.devicePort));
  log.change("NTP IP", formatIpv4(a.ntpIp), formatIpv4(b.ntpIp));
  log.change("motor state", motorStateName(a.motorState), motorStateName(b.motorState));
  log.change("packet interval", num(a.packetInterval), num(b.packetInterval));
  log.change("lidar status", a.lidarStatus ? "Sleep" : "Running",
             b.lidarStatus ? "Sleep" : "Running");
  log.change("PPS angle", num(a.ppsAngle), num(b.ppsAngle));
  log.change("range x100", num(a.rangeX100), num(b.rangeX100));
  log.change("tail threshold", num(a.tailThreshold), num(b.tailThreshold));
  log.change("tail distance cm", num(a.tailDistanceCm), num(b.tailDistanceCm));
  log.change("zero-degree position", num(a.zeroDegreePosition), num(b.zeroDegreePosition));
  log.change("horizontal offset", num(decodeSigned(a.horizontalOffsetRaw)),
             num(decodeSigned(b.horizontalOffsetRaw)));
  log.change("encoder zero", num(decodeSigned(a.encoderZeroRaw)),
             num(decodeSigned(b.encoderZeroRaw)));
  log.change("vertical angles", anglesText(a.verticalAnglesRaw), anglesText(b.verticalAnglesRaw));
}

// The lidar IP the device reports, and where it listens. Only a loopback address is taken: the
// viewer sends its configuration datagrams to the reported address, so an address off this
// machine would send them off it.
void applyLidarIp(SimState& s, const Ipv4& ip, ChangeLog& log) {
  const std::string text = formatIpv4(ip);
  if (isLoopbackAddress(text)) {
    s.lidarIp = ip;
    s.listenAddress = text;
  } else {
    log.note("lidar IP " + text + " refused: not on this machine, still " + formatIpv4(s.lidarIp));
  }
}

// The destination the device reports; it sends there only when it stays on this machine.
void applyDestIp(SimState& s, const Ipv4& ip, ChangeLog& log) {
  s.destIp = ip;
  const std::string text = formatIpv4(ip);
  if (classifyDestination(text) != DestinationKind::Refused) {
    s.sendAddress = text;
  } else {
    log.note("destination " + text + " is off this machine: reported only, still sending to " +
             s.sendAddress);
  }
}

void applyRpm(SimState& s, uint16_t rpm, ChangeLog& log) {
  if (rpm >= kMinRpm && rpm <= kMaxRpm)
    s.rpm = rpm;
  else
    log.note("rpm " + num(rpm) + " refused (1.." + num(kMaxRpm) + ")");
}

void applyMotorState(SimState& s, uint16_t v, ChangeLog& log) {
  if (v <= kMotorOutputRate)
    s.motorState = v;
  else
    log.note("motor state " + num(v) + " refused");
}

// Date and time fields (year - 2000, month, day, hour, minute, second) set the device clock;
// six zero bytes leave it alone.
void applyClock(SimState& s, const uint8_t* t, uint64_t utcNs, ChangeLog& log) {
  if (allZero(t, 6)) return;
  std::tm tm{};
  tm.tm_year = 100 + t[0];
  tm.tm_mon = t[1] - 1;
  tm.tm_mday = t[2];
  tm.tm_hour = t[3];
  tm.tm_min = t[4];
  tm.tm_sec = t[5];
  if (t[1] < 1 || t[1] > 12 || t[2] < 1 || t[2] > 31 || t[3] > 23 || t[4] > 59 || t[5] > 59) {
    log.note("clock fields " + num(t[0]) + "/" + num(t[1]) + "/" + num(t[2]) + " " + num(t[3]) +
             ":" + num(t[4]) + ":" + num(t[5]) + " refused");
    return;
  }
  const int64_t set = int64_t(timegm(&tm)) * 1000000000;
  // The device keeps its sub-second phase; only whole seconds are set.
  const int64_t now = int64_t(utcNs);
  s.clockOffsetNs = set - (now - now % 1000000000);
  log.note("device clock set to " + formatUtc(set));
}

void applyNetworkFields(SimState& s, const uint8_t* d, uint64_t utcNs, ChangeLog& log) {
  applyRpm(s, be16(d + 8), log);
  applyLidarIp(s, ipAt(d + 10), log);
  applyDestIp(s, ipAt(d + 14), log);
  std::copy(d + 18, d + 24, s.mac.begin());
  // A port of 0 cannot be sent to; the device keeps its port then.
  if (uint16_t p = be16(d + 24))
    s.dataPort = p;
  else
    log.note("data port 0 refused");
  if (uint16_t p = be16(d + 26))
    s.devicePort = p;
  else
    log.note("device port 0 refused");
  s.ntpIp = ipAt(d + 28);
  applyMotorState(s, be16(d + 40), log);
  s.packetInterval = be16(d + 42);
  const uint16_t status = be16(d + 44);
  if (status <= kLidarSleep)
    s.lidarStatus = status;
  else
    log.note("lidar status refused");
  const uint16_t pps = be16(d + 48);
  if (pps <= 36000)
    s.ppsAngle = pps;
  else
    log.note("PPS angle " + num(pps) + " refused");
  applyClock(s, d + 52, utcNs, log);
}

void applyAdvancedFields(SimState& s, const uint8_t* d, uint64_t utcNs, ChangeLog& log) {
  applyRpm(s, be16(d + 8), log);
  applyLidarIp(s, ipAt(d + 10), log);
  applyDestIp(s, ipAt(d + 14), log);
  applyMotorState(s, be16(d + 40), log);
  applyClock(s, d + 52, utcNs, log);
  s.rangeX100 = be16(d + 178);
  s.tailThreshold = be16(d + 180);
  s.tailDistanceCm = be16(d + 182);
  if (d[184] <= 1)
    s.zeroDegreePosition = d[184];
  else
    log.note("zero-degree position " + num(d[184]) + " refused");
  // Echo mode 1 is dual-return; any other value single-return, as receivers read byte 185.
  s.dualReturn = d[185] == 1;
  s.horizontalOffsetRaw = be16(d + 186);
  s.encoderZeroRaw = be16(d + 194);
}

}  // namespace

double SimState::verticalAngleDeg(int ch) const {
  return decodeSigned(verticalAnglesRaw[size_t(ch)]) / 100.0;
}

uint16_t encodeSigned(int v) {
  v = std::clamp(v, -32767, 32767);
  return uint16_t(v < 0 ? v + 65535 : v);
}

int decodeSigned(uint16_t raw) { return raw > 32767 ? int(raw) - 65535 : int(raw); }

std::string formatIpv4(const Ipv4& ip) {
  return num(ip[0]) + "." + num(ip[1]) + "." + num(ip[2]) + "." + num(ip[3]);
}

bool parseIpv4(const std::string& text, Ipv4* out) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  *out = Ipv4{uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d)};
  return true;
}

std::array<int, 16> calibratedVerticalAngles(const SimConfig& config) {
  const AngleTable& nominal = nominalVerticalAngles(config.degreeMode == 1 ? 1 : 0);
  std::array<int, 16> angles{};
  for (int ch = 0; ch < 16; ++ch) {
    // splitmix64 of the seed and the channel: a fixed offset per device and channel.
    uint64_t x = config.seed * 0x9E3779B97F4A7C15ull + uint64_t(ch + 1) * 0xD1B54A32D192ED03ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    const int offset = int(x % uint64_t(2 * kMaxCalibrationOffset + 1)) - kMaxCalibrationOffset;
    double hundredths = std::round(double(nominal[size_t(ch)]) * 100) + offset;
    if (ch == config.angleErrorChannel) hundredths += std::round(config.angleErrorDeg * 100);
    angles[size_t(ch)] = int(hundredths);
  }
  return angles;
}

SimState initialState(const SimConfig& config) {
  SimState s;
  s.dualReturn = config.dualReturn;
  s.rpm = uint16_t(std::clamp(config.rpm, kMinRpm, kMaxRpm));
  s.degreeMode = config.degreeMode == 1 ? 1 : 0;
  s.accuaryMode = config.accuaryMode == 1 ? 1 : 0;
  s.listenAddress = config.lidarAddress;
  s.sendAddress = config.destAddress;
  if (!parseIpv4(config.lidarAddress, &s.lidarIp)) s.lidarIp = {127, 0, 0, 2};
  if (!parseIpv4(config.destAddress, &s.destIp)) s.destIp = {127, 0, 0, 1};
  s.mac = {0x60, 0x76, 0x88, 0x10, 0x2A, 0x3C};
  s.dataPort = config.dataPort;
  s.devicePort = config.devicePort;
  s.ntpIp = {127, 0, 0, 1};
  s.ppsDeviationRaw = encodeSigned(-5);
  s.latitude = "3016.06120";
  s.longitude = "12008.6152";
  s.stopTemperatureRaw = 1676;  // 85 C on the 330 scale
  s.voltage = {1, 2, 0, 5, 0, 3, 3, 0, 5, 0};
  s.board2HvRaw = 2345;  // about 140 V
  s.board2HvAdjust = 120;
  s.board2Threshold = 30;
  s.tailThreshold = 5;
  s.tailDistanceCm = 150;
  const std::array<int, 16> angles = calibratedVerticalAngles(config);
  for (int ch = 0; ch < 16; ++ch)
    s.verticalAnglesRaw[size_t(ch)] = encodeSigned(angles[size_t(ch)]);
  const char id[] = "TOVIK16-SIM-0001";
  std::copy(id, id + sizeof id - 1, s.lidarId.begin());
  s.boardVersions = {1, 2, 1, 1, 2, 0, 2, 1, 1, 0};
  s.fpga2Version = {2, 0x10};  // V2.1.0: plate-2 temperature on the 250 scale
  s.fpga3Date = {20, 21, 3, 11};
  return s;
}

void buildDevicePacket(const SimState& s, uint64_t utcNs, uint8_t* p) {
  std::memset(p, 0, kDatagramSize);
  std::memcpy(p, kDeviceHeader, sizeof kDeviceHeader);
  putBe16(p + 8, s.rpm);
  std::copy(s.lidarIp.begin(), s.lidarIp.end(), p + 10);
  std::copy(s.destIp.begin(), s.destIp.end(), p + 14);
  std::copy(s.mac.begin(), s.mac.end(), p + 18);
  putBe16(p + 24, s.dataPort);
  putBe16(p + 26, s.devicePort);
  std::copy(s.ntpIp.begin(), s.ntpIp.end(), p + 28);
  putBe16(p + 40, s.motorState);
  putBe16(p + 42, s.packetInterval);
  putBe16(p + 44, s.lidarStatus);
  putBe16(p + 48, s.ppsAngle);
  putBe16(p + 50, s.ppsDeviationRaw);

  const int64_t deviceNs = int64_t(utcNs) + s.clockOffsetNs;
  std::time_t secs = static_cast<std::time_t>(deviceNs / 1000000000);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  p[52] = uint8_t(std::clamp(tm.tm_year - 100, 0, 255));
  p[53] = uint8_t(tm.tm_mon + 1);
  p[54] = uint8_t(tm.tm_mday);
  p[55] = uint8_t(tm.tm_hour);
  p[56] = uint8_t(tm.tm_min);
  p[57] = uint8_t(tm.tm_sec);

  // Fixed 10-character texts, no terminator.
  std::copy_n(s.latitude.begin(), std::min<size_t>(10, s.latitude.size()), p + 58);
  std::copy_n(s.longitude.begin(), std::min<size_t>(10, s.longitude.size()), p + 68);
  p[78] = uint8_t(s.latitudeSuffix);
  p[79] = uint8_t(s.longitudeSuffix);

  // Plate-2 temperature drifts by +-0.4 C over ten minutes. The raw value is on the 250 scale
  // (t / 4096 x 250 - 50) unless the FPGA 2nd board is V3.0.x, which uses the 330 scale.
  const double minutes = double(utcNs % 3600000000000ull) / 60e9;
  const double celsius = s.temperatureC + 0.4 * std::sin(minutes * 2 * 3.14159265358979 / 10.0);
  const bool scale330 = s.fpga2Version[0] == 3 && (s.fpga2Version[1] >> 4) == 0;
  const double raw = (celsius + 50.0) / (scale330 ? 330.0 : 250.0) * 4096.0;
  putBe16(p + 80, uint16_t(std::lround(std::clamp(raw, 0.0, 65535.0))));
  std::copy(s.lvds.begin(), s.lvds.end(), p + 82);
  p[84] = s.gpsState;
  p[85] = s.ppsState;
  p[86] = s.highTempPause;
  putBe16(p + 87, s.stopTemperatureRaw);
  std::copy(s.voltage.begin(), s.voltage.end(), p + 89);
  putBe16(p + 99, s.board2HvRaw);
  putBe16(p + 101, s.board2HvAdjust);
  p[103] = s.board2Threshold;
  p[104] = s.cleanliness;

  putBe16(p + 178, s.rangeX100);
  putBe16(p + 180, s.tailThreshold);
  putBe16(p + 182, s.tailDistanceCm);
  p[184] = s.zeroDegreePosition;
  p[185] = s.dualReturn ? 1 : 0;
  putBe16(p + 186, s.horizontalOffsetRaw);
  putBe16(p + 194, s.encoderZeroRaw);
  for (int ch = 0; ch < 16; ++ch) putBe16(p + 245 + 2 * ch, s.verticalAnglesRaw[size_t(ch)]);

  std::copy(s.lidarId.begin(), s.lidarId.end(), p + 1164);
  std::copy(s.boardVersions.begin(), s.boardVersions.end(), p + 1184);
  putBe16(p + 1194, s.angleSpacing());
  std::copy(s.fpga2Version.begin(), s.fpga2Version.end(), p + 1196);
  std::copy(s.fpga3Date.begin(), s.fpga3Date.end(), p + 1198);
  p[1202] = s.fpga3Major();
  p[1203] = s.fpga3MinorPatch();
  p[1204] = 0x0F;
  p[1205] = 0xF0;
}

DatagramKind classifyDatagram(const uint8_t* d, size_t n) {
  if (n != kDatagramSize || std::memcmp(d, kConfigHeader, sizeof kConfigHeader) != 0)
    return DatagramKind::Unknown;
  if (d[6] == 0xBB && d[7] == 0xBB) return DatagramKind::Advanced;
  if (d[6] != 0xAA || d[7] != 0xAA) return DatagramKind::Unknown;
  if (std::memcmp(d + 160, kAngleMarker, sizeof kAngleMarker) == 0)
    return DatagramKind::VerticalAngles;
  // The factory-default packet is all zero past the ports except its date and time; a network
  // configuration is a copy of a device packet and carries the device's identity there.
  if (allZero(d + 28, 52 - 28) && allZero(d + 58, 1204 - 58)) return DatagramKind::FactoryDefault;
  return DatagramKind::NetworkConfig;
}

std::string applyConfigDatagram(SimState& state, const SimState& factory, const uint8_t* d,
                                size_t n, uint64_t utcNs) {
  const DatagramKind kind = classifyDatagram(d, n);
  if (kind == DatagramKind::Unknown) return {};
  const SimState before = state;
  ChangeLog log;
  const char* name = "";
  switch (kind) {
    case DatagramKind::NetworkConfig:
      name = "network configuration";
      applyNetworkFields(state, d, utcNs, log);
      break;
    case DatagramKind::FactoryDefault:
      name = "factory defaults";
      state = factory;
      applyNetworkFields(state, d, utcNs, log);
      break;
    case DatagramKind::Advanced:
      name = "advanced settings";
      applyAdvancedFields(state, d, utcNs, log);
      break;
    case DatagramKind::VerticalAngles:
      name = "vertical angles";
      for (int ch = 0; ch < 16; ++ch) state.verticalAnglesRaw[size_t(ch)] = be16(d + 245 + 2 * ch);
      break;
    case DatagramKind::Unknown:
      break;
  }
  ChangeLog changes;
  listChanges(before, state, changes);
  std::string line = std::string(name) + ": " + (changes.empty() ? "no change" : changes.joined());
  if (!log.empty()) line += " (" + log.joined() + ")";
  return line;
}

std::string describeIgnored(const uint8_t* d, size_t n) {
  std::string s = num(static_cast<long long>(n)) + " bytes";
  if (n > 0) {
    s += ", starts";
    for (size_t i = 0; i < std::min<size_t>(n, 8); ++i) {
      char buf[4];
      std::snprintf(buf, sizeof buf, " %02X", d[i]);
      s += buf;
    }
  }
  if (n >= 8 && std::memcmp(d, kDeviceHeader, 8) == 0)
    s += " (a device information packet)";
  else if (n >= 2 && d[0] == 0xFF && d[1] == 0xEE)
    s += " (a point data packet)";
  else if (n >= 6 && std::memcmp(d, kConfigHeader, 6) == 0 && n != kDatagramSize)
    s += " (configuration header, but not " + num(kDatagramSize) + " bytes)";
  return s;
}

}  // namespace tovik::sim
