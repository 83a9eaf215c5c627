// tovik16-sim: a simulated Tovik16 lidar on the loopback interface.
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <string>

#include "acquisition/memory_tuning.h"
#include "tools/sim/address_policy.h"
#include "tools/sim/sim_runner.h"
#include "tovik16_version.h"

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) { stopRequested.store(true); }

const char* kUsage = R"(Usage: tovik16-sim [options]

A simulated Tovik16 lidar. With no options it streams single-return point data packets at
600 rpm to 127.0.0.1:2368 and a device information packet every second to 127.0.0.1:2369,
from 127.0.0.2:2368 and 127.0.0.2:2369, where it also listens for configuration datagrams
(network settings, advanced settings, factory defaults, vertical angles).
It never sends off this machine: destinations must be in 127.0.0.0/8 or a multicast group,
which is sent through the loopback interface only.

Stream:
  --single                 single-return layout, 12 firing positions per packet (default)
  --dual                   dual-return layout, 6 block pairs per packet
  --rpm N                  motor speed: 300, 600 (default) or 1200
  --angle-mode M           0: 2 degree vertical table (default), 1: 1.33 degree table
  --resolution R           0: 0.25 cm per count (default), 1: 0.4 cm per count
  --noise CM               range noise amplitude in cm (default 1, 0 for exact ranges)
  --start-azimuth DEG      azimuth of the first firing (default 0)

Vertical angles: each channel is calibrated within 0.5 degree of the nominal table, fixed by
--seed; the beams fire at these angles and the device packets report them.
  --angle-error C:DEG      channel C (0-15) off its calibrated angle by DEG degrees
  --mistaken-channel C     channel C off by 2.5 degrees, past the 1.5 degree plausibility
                           limit, so viewers fall back to the nominal table

Addresses:
  --dest ADDR              destination address (default 127.0.0.1; 127.0.0.0/8 or multicast)
  --data-port N            destination port of point data packets (default 2368)
  --device-port N          destination port of device information packets (default 2369)
  --multicast              send to a multicast group instead (default group 224.1.1.1)
  --group ADDR             the multicast group (implies --multicast)
  --lidar-ip ADDR          address the simulator binds and reports (default 127.0.0.2; 127/8)
  --data-src-port N        source port of point data, also listened on (default 2368; 0 any)
  --device-src-port N      source port of device packets, also listened on (default 2369; 0 any)

Capture instead of network:
  --pcap FILE              write the traffic to a pcap file as fast as possible
  --revolutions N          stop after N revolutions (the packet with the N-th azimuth wrap)
  --packets N              stop after N point packets
  --with-device-packets    interleave one device information packet per simulated second

Faults and limits (deterministic for a seed):
  --rate X                 multiply the packet rate by X (default 1)
  --drop-ratio R           share of point packets not sent, so receivers see gaps
  --short-ratio R          share of point datagrams cut short
  --bad-header-ratio R     share of point packets with a damaged FF EE flag
  --junk-ratio R           chance of a random junk datagram after each point packet
  --seed N                 seed of the faults and of the range noise (default 1)
  --duration S             stop after S seconds (simulated seconds with --pcap)
  --count N                stop after N point packets (dropped ones included)

Output:
  --quiet                  no per-second summary on stderr
  --help                   this text
  --version                the version and the git revision of the build
)";

bool parseNumber(const char* text, double* out) {
  char* end = nullptr;
  *out = std::strtod(text, &end);
  return end != text && *end == '\0';
}

bool parseCount(const char* text, uint64_t* out) {
  char* end = nullptr;
  if (*text == '-') return false;
  *out = std::strtoull(text, &end, 10);
  return end != text && *end == '\0';
}

bool parsePort(const char* text, uint16_t* out) {
  uint64_t v = 0;
  if (!parseCount(text, &v) || v > 65535) return false;
  *out = uint16_t(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  tovik::tuneAllocatorForStreaming();
  using namespace tovik::sim;
  RunOptions o;
  o.sim.startTimeNs = uint64_t(std::time(nullptr)) * 1000000000ull;
  std::string pcapFile;
  bool multicast = false;
  std::string group = kDefaultMulticastGroup;
  bool destGiven = false;

  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::cerr << "tovik16-sim: " << a << " needs a value (see --help)\n";
        std::exit(2);
      }
      return argv[++i];
    };
    auto bad = [&](const char* v) {
      std::cerr << "tovik16-sim: bad value \"" << v << "\" for " << a << " (see --help)\n";
      std::exit(2);
    };
    double d = 0;
    uint64_t n = 0;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--version") {
      std::cout << tovik::versionLine("tovik16-sim") << '\n';
      return 0;
    } else if (a == "--single") {
      o.sim.dualReturn = false;
    } else if (a == "--dual") {
      o.sim.dualReturn = true;
    } else if (a == "--rpm") {
      const char* v = value();
      if (!parseCount(v, &n) || (n != 300 && n != 600 && n != 1200)) bad(v);
      o.sim.rpm = int(n);
    } else if (a == "--angle-mode") {
      const char* v = value();
      if (!parseCount(v, &n) || n > 1) bad(v);
      o.sim.degreeMode = int(n);
    } else if (a == "--resolution") {
      const char* v = value();
      if (!parseCount(v, &n) || n > 1) bad(v);
      o.sim.accuaryMode = int(n);
    } else if (a == "--noise") {
      const char* v = value();
      if (!parseNumber(v, &d) || d < 0) bad(v);
      o.sim.noiseCm = d;
    } else if (a == "--start-azimuth") {
      const char* v = value();
      if (!parseNumber(v, &d)) bad(v);
      o.sim.startAzimuthDeg = d;
    } else if (a == "--angle-error") {
      const char* v = value();
      const std::string text = v;
      const size_t colon = text.find(':');
      if (colon == std::string::npos || !parseCount(text.substr(0, colon).c_str(), &n) || n > 15 ||
          !parseNumber(text.c_str() + colon + 1, &d) || std::fabs(d) > 90)
        bad(v);
      o.sim.angleErrorChannel = int(n);
      o.sim.angleErrorDeg = d;
    } else if (a == "--mistaken-channel") {
      const char* v = value();
      if (!parseCount(v, &n) || n > 15) bad(v);
      o.sim.angleErrorChannel = int(n);
      o.sim.angleErrorDeg = 2.5;
    } else if (a == "--dest") {
      o.sim.destAddress = value();
      destGiven = true;
    } else if (a == "--data-port") {
      const char* v = value();
      if (!parsePort(v, &o.sim.dataPort) || o.sim.dataPort == 0) bad(v);
    } else if (a == "--device-port") {
      const char* v = value();
      if (!parsePort(v, &o.sim.devicePort) || o.sim.devicePort == 0) bad(v);
    } else if (a == "--multicast") {
      multicast = true;
    } else if (a == "--group") {
      group = value();
      multicast = true;
    } else if (a == "--lidar-ip") {
      o.sim.lidarAddress = value();
    } else if (a == "--data-src-port") {
      const char* v = value();
      if (!parsePort(v, &o.dataSourcePort)) bad(v);
    } else if (a == "--device-src-port") {
      const char* v = value();
      if (!parsePort(v, &o.deviceSourcePort)) bad(v);
    } else if (a == "--pcap") {
      pcapFile = value();
    } else if (a == "--revolutions") {
      const char* v = value();
      if (!parseCount(v, &o.revolutionLimit) || o.revolutionLimit == 0) bad(v);
    } else if (a == "--packets" || a == "--count") {
      const char* v = value();
      if (!parseCount(v, &o.packetLimit) || o.packetLimit == 0) bad(v);
    } else if (a == "--with-device-packets") {
      o.withDevicePackets = true;
    } else if (a == "--rate") {
      const char* v = value();
      if (!parseNumber(v, &d) || !(d > 0) || d > 1000) bad(v);
      o.rate = d;
    } else if (a == "--drop-ratio" || a == "--short-ratio" || a == "--bad-header-ratio" ||
               a == "--junk-ratio") {
      const char* v = value();
      if (!parseNumber(v, &d) || d < 0 || d > 1) bad(v);
      if (a == "--drop-ratio") o.faults.dropRatio = d;
      if (a == "--short-ratio") o.faults.shortRatio = d;
      if (a == "--bad-header-ratio") o.faults.badHeaderRatio = d;
      if (a == "--junk-ratio") o.faults.junkRatio = d;
    } else if (a == "--seed") {
      const char* v = value();
      if (!parseCount(v, &n)) bad(v);
      o.faults.seed = n;
      o.sim.seed = n;
    } else if (a == "--duration") {
      const char* v = value();
      if (!parseNumber(v, &d) || !(d > 0)) bad(v);
      o.durationS = d;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else {
      std::cerr << "tovik16-sim: unknown option " << a << " (see --help)\n";
      return 2;
    }
  }

  if (multicast) {
    if (destGiven) {
      std::cerr << "tovik16-sim: --dest and --multicast/--group exclude each other\n";
      return 2;
    }
    if (classifyDestination(group) != DestinationKind::Multicast) {
      std::cerr << "tovik16-sim: " << group << " is not a multicast group (224.0.0.0/4)\n";
      return 2;
    }
    o.sim.destAddress = group;
  }
  if (std::string why = destinationRefusal(o.sim.destAddress); !why.empty()) {
    std::cerr << "tovik16-sim: " << why << "\n";
    return 2;
  }
  if (!isLoopbackAddress(o.sim.lidarAddress)) {
    std::cerr << "tovik16-sim: --lidar-ip " << o.sim.lidarAddress
              << " is not in 127.0.0.0/8; the simulated lidar binds only loopback addresses\n";
    return 2;
  }

  std::string error;
  if (!pcapFile.empty()) {
    std::ofstream file(pcapFile, std::ios::binary | std::ios::trunc);
    if (!file) {
      std::cerr << "tovik16-sim: cannot open " << pcapFile << " for writing\n";
      return 1;
    }
    RunStats stats;
    if (!writeCapture(o, file, &stats, &error)) {
      std::cerr << "tovik16-sim: " << error << "\n";
      return 1;
    }
    if (!o.quiet)
      std::cerr << "tovik16-sim: wrote " << stats.pointSent << " point packets, "
                << stats.devicePackets << " device packets, " << stats.junkSent
                << " junk datagrams (" << stats.revolutions << " revolutions) to " << pcapFile
                << "\n";
    return 0;
  }

  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  NetworkRunner runner(o, std::cerr);
  if (!runner.open(&error)) {
    std::cerr << "tovik16-sim: " << error << "\n";
    return 1;
  }
  if (!o.quiet)
    std::cerr << "tovik16-sim: " << (o.sim.dualReturn ? "dual" : "single") << "-return, "
              << o.sim.rpm << " rpm, from " << o.sim.lidarAddress << ":" << runner.dataSourcePort()
              << "/" << runner.deviceSourcePort() << " to " << o.sim.destAddress << ":"
              << o.sim.dataPort << "/" << o.sim.devicePort << "\n";
  runner.run(stopRequested);
  return 0;
}
