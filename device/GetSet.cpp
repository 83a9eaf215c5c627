#include "device/GetSet.h"

#include <QCoreApplication>
#include <cstring>
#include <mutex>

#include "acquisition/udp_socket.h"

namespace tovik {

namespace {

constexpr int kReceiveTimeoutMs = 100;  // bounds how long a stop request waits
// Device packets are rare, but a burst must not be lost while the thread hands one over.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

std::mutex lastPacketMutex;
DevicePacketBytes lastPacket{};

void storeLastDevicePacket(const uint8_t* p) {
  std::lock_guard<std::mutex> lock(lastPacketMutex);
  std::memcpy(lastPacket.data(), p, lastPacket.size());
}

}  // namespace

DevicePacketBytes lastDevicePacket() {
  std::lock_guard<std::mutex> lock(lastPacketMutex);
  return lastPacket;
}

}  // namespace tovik

struct GetSet::Counters {
  std::atomic<uint64_t> received{0}, accepted{0}, rejected{0}, shortDatagrams{0}, tooLong{0},
      pendingCopies{0};
  std::atomic<bool> listening{false};

  // Sequentially consistent, so a reader that sees a count also sees what preceded it.
  static void bump(std::atomic<uint64_t>& c) { c.fetch_add(1); }
};

// Hand-over of one accepted packet.
//
// The signals carry pointers, and a queued slot runs some time after the emit, when later
// packets may already have arrived. So that no consumer ever sees a record or packet that a
// later packet has overwritten, each accepted packet gets a HandOver block of its own (record
// and packet bytes) that is never written after the emits. The block is owned by shared
// pointers only. After both emits the receive loop queues a release call, holding the last
// reference, to an object living in the consumers' thread (the thread owning this GetSet, the
// GUI thread). A thread's posted events are delivered in the order they were posted, so the
// release call runs after every queued slot call of the packet, and only then is the block
// freed; direct connections have run before emit returns. The release call goes to the
// application object when that lives in the consumers' thread, so blocks stay valid even if
// this GetSet is destroyed while deliveries are still queued.
// Not covered: slots living in a third thread, and a slot that runs a nested event loop before
// copying what it keeps (the contract is to copy on arrival).
struct GetSet::HandOver {
  HandOver(const SettingData& r, const uint8_t* p, std::shared_ptr<Counters> c)
      : record(r), counters(std::move(c)) {
    std::memcpy(packet, p, sizeof packet);
    counters->pendingCopies.fetch_add(1);
  }
  ~HandOver() { counters->pendingCopies.fetch_sub(1); }
  HandOver(const HandOver&) = delete;
  HandOver& operator=(const HandOver&) = delete;

  SettingData record;
  u_char packet[tovik::kDevicePacketSize];
  std::shared_ptr<Counters> counters;
};

GetSet::GetSet(QObject* parent) : QThread(parent), counters_(std::make_shared<Counters>()) {
  registerDeviceMetaTypes();
}

GetSet::~GetSet() {
  stopRequested.store(true);
  wait();
}

tovik::DeviceReceiverCounts GetSet::stats() const {
  const Counters& c = *counters_;
  tovik::DeviceReceiverCounts s;
  s.received = c.received.load();
  s.accepted = c.accepted.load();
  s.rejected = c.rejected.load();
  s.shortDatagrams = c.shortDatagrams.load();
  s.tooLong = c.tooLong.load();
  s.pendingCopies = c.pendingCopies.load();
  s.listening = c.listening.load();
  return s;
}

bool GetSet::decodeDatagram(uint8_t* buffer, size_t length, SettingData* record,
                            std::vector<int>* mac) {
  if (length != tovik::kDevicePacketSize) return false;
  return tovik::acceptDevicePacket(buffer, record, mac);
}

void GetSet::handOver(const SettingData& record, const uint8_t* packet,
                      std::vector<int>* macValues) {
  auto copy = std::make_shared<HandOver>(record, packet, counters_);
  emit SendLidarStatusToSettingUI(&copy->record, *macValues);
  emit SendDataDifo(copy->packet);
  macValues->clear();

  QObject* consumersContext = this;
  QCoreApplication* app = QCoreApplication::instance();
  if (app && app->thread() == thread()) consumersContext = app;
  QMetaObject::invokeMethod(
      consumersContext, [copy = std::move(copy)]() mutable { copy.reset(); }, Qt::QueuedConnection);
}

void GetSet::run() {
  Counters& counts = *counters_;
  tovik::net::UdpSocket socket;
  socket.open();
  socket.setReuseAddress(true);
  if (!socket.bind(std::string(), quint16(port))) {
    const QString reason =
        QStringLiteral("port %1: %2").arg(port).arg(QString::fromStdString(socket.lastError()));
    socket.close();
    stopRequested.store(false, std::memory_order_release);
    emit SendSocketError(reason);
    return;
  }
  // Without a multicast route (or with a unicast text) the join fails; unicast still arrives.
  socket.joinMulticast(multicastIp);
  socket.setReceiveBufferSize(tovik::kReceiveBufferBytes);
  if (!socket.setReceiveTimeout(tovik::kReceiveTimeoutMs)) {
    // Without a time-out a stop request could never be seen: end without emitting anything.
    stopRequested.store(false);
    return;
  }
  counts.listening.store(true);

  uint8_t buffer[tovik::kDevicePacketSize] = {};
  SettingData record;
  std::vector<int> macValues;
  macValues.reserve(tovik::kMacVectorSize);
  while (!stopRequested.load(std::memory_order_acquire)) {
    size_t length = 0;
    const tovik::net::RecvStatus status = socket.receive(buffer, sizeof buffer, &length);
    if (status == tovik::net::RecvStatus::Truncated) {
      Counters::bump(counts.tooLong);
      continue;
    }
    if (status == tovik::net::RecvStatus::Error) {
      // An error returns at once; pausing keeps a lasting one from spinning the thread.
      QThread::msleep(10);
      continue;
    }
    if (status != tovik::net::RecvStatus::Ok) continue;  // time-out
    Counters::bump(counts.received);
    if (length < sizeof buffer) {
      Counters::bump(counts.shortDatagrams);
      continue;
    }

    const bool accepted = decodeDatagram(buffer, length, &record, &macValues);
    tovik::storeLastDevicePacket(buffer);
    if (!accepted) {
      Counters::bump(counts.rejected);
      continue;
    }
    handOver(record, buffer, &macValues);
    Counters::bump(counts.accepted);
  }
  socket.close();
  counts.listening.store(false);
  stopRequested.store(false, std::memory_order_release);
}
