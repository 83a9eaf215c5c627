// tovik16-monitor: a console read-out of what the live receivers decode. It listens for device
// information packets, starts the point receiver of the sensor type the first one reports, and
// prints once a second what arrives.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "acquisition/GetlidarData.h"
#include "acquisition/GetlidarData_1.h"
#include "acquisition/memory_tuning.h"
#include "device/GetSet.h"
#include "device/device_modes.h"
#include "device/setting_data.h"
#include "tovik16_version.h"

namespace {

struct Totals {
  tovik::ReceiverCounters last;
  uint64_t devicePackets = 0, lastDevicePackets = 0;
};

}  // namespace

int main(int argc, char** argv) {
  tovik::tuneAllocatorForStreaming();
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("tovik16-monitor");
  QCoreApplication::setApplicationVersion(QString::fromStdString(tovik::versionText()));
  registerDeviceMetaTypes();
  qRegisterMetaType<LidarData>("LidarData");
  qRegisterMetaType<LidarData>("struct LidarData");

  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Console read-out of a Tovik16's live stream: device status, revolutions per second, "
      "points per revolution and dropped datagrams, once a second.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption dataPort("data-port", "Point data port (default 2368).", "port", "2368");
  QCommandLineOption devicePort("device-port", "Device information port (default 2369).", "port",
                                "2369");
  QCommandLineOption group("multicast", "Multicast group to join (default 224.1.1.1).", "group",
                           "224.1.1.1");
  QCommandLineOption seconds("seconds", "Exit after this many seconds (default: run until killed).",
                             "n", "0");
  parser.addOptions({dataPort, devicePort, group, seconds});
  parser.process(app);

  bool ok = false;
  const int dport = parser.value(dataPort).toInt(&ok);
  const int tport = ok ? parser.value(devicePort).toInt(&ok) : 0;
  if (!ok || dport < 1 || dport > 65535 || tport < 1 || tport > 65535) {
    std::fprintf(stderr, "tovik16-monitor: ports must be numbers from 1 to 65535\n");
    return 2;
  }

  GetSet status;
  GetlidarData dual;
  GetlidarData_1 single;
  status.port = tport;
  status.multicastIp = parser.value(group).toStdString();

  tovik::DeviceModes modes;
  bool started = false;
  Totals totals;
  QObject::connect(&status, &GetSet::SendLidarStatusToSettingUI, &app,
                   [&](SettingData* data, std::vector<int> mac) {
                     ++totals.devicePackets;
                     if (started || mac.size() < 21) return;
                     started = true;
                     modes = tovik::deriveDeviceModes(data->fpga3Version[4],
                                                      data->fpga3Version[5] >> 4, mac[20], mac[13]);
                     QThread* receiver = nullptr;
                     if (modes.sensorType == tovik::kSensorDualLive) {
                       dual.port = quint16(dport);
                       dual.multicastIp = status.multicastIp;
                       receiver = &dual;
                     } else {
                       single.port = quint16(dport);
                       single.multicastIp = status.multicastIp;
                       receiver = &single;
                     }
                     receiver->start(QThread::InheritPriority);
                     std::printf("device: sensor %s, %s degree table, %s cm per count\n",
                                 qPrintable(modes.sensorType), modes.degreeMode == 1 ? "1.33" : "2",
                                 modes.accuaryMode == 1 ? "0.4" : "0.25");
                     std::fflush(stdout);
                   });
  status.start(QThread::InheritPriority);
  std::printf("listening: device information on port %d, point data on port %d, group %s\n", tport,
              dport, qPrintable(parser.value(group)));
  std::fflush(stdout);

  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &app, [&]() {
    const tovik::ReceiverStats& stats =
        modes.sensorType == tovik::kSensorDualLive ? dual.stats() : single.stats();
    const tovik::ReceiverCounters now = stats.snapshot();
    const tovik::ReceiverCounters& before = totals.last;
    std::printf(
        "%s  %llu rev/s  %llu points/rev  %llu packets/s  dropped: %llu short, %llu oversized, "
        "%llu not point data  device packets: %llu/s\n",
        started ? qPrintable(modes.sensorType) : "waiting for a device packet",
        static_cast<unsigned long long>(now.revolutions - before.revolutions),
        static_cast<unsigned long long>(now.lastRevolutionPoints),
        static_cast<unsigned long long>(now.packets - before.packets),
        static_cast<unsigned long long>(now.shortDropped),
        static_cast<unsigned long long>(now.oversized),
        static_cast<unsigned long long>(now.ignored),
        static_cast<unsigned long long>(totals.devicePackets - totals.lastDevicePackets));
    std::fflush(stdout);
    totals.last = now;
    totals.lastDevicePackets = totals.devicePackets;
  });
  tick.start(1000);

  const int limit = parser.value(seconds).toInt();
  if (limit > 0) QTimer::singleShot(limit * 1000, &app, &QCoreApplication::quit);
  const int rc = app.exec();
  dual.stopRequested = true;
  single.stopRequested = true;
  status.stopRequested = true;
  dual.wait();
  single.wait();
  status.wait();
  return rc;
}
