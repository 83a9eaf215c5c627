// Device information receiver: listens on the telemetry port, decodes every device information
// packet and hands the record, the Mac vector and the raw packet to the GUI thread.
#pragma once

#include <sys/types.h>

#include <QThread>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/setting_data.h"

typedef unsigned char u_char;

namespace tovik {

using DevicePacketBytes = std::array<uint8_t, kDevicePacketSize>;

// A copy of the last whole datagram (exactly one packet's size, header or not) received on the
// telemetry port, all zero before the first. Shorter datagrams never replace it. Safe to call
// from any thread.
DevicePacketBytes lastDevicePacket();

// Counts of the receiver over its lifetime, for the status bar and tests.
struct DeviceReceiverCounts {
  uint64_t received = 0;        // datagrams of at most one packet's size taken off the socket
  uint64_t accepted = 0;        // device information packets decoded and handed over
  uint64_t rejected = 0;        // datagrams whose first eight bytes are not the header
  uint64_t shortDatagrams = 0;  // shorter than a packet: dropped unseen
  uint64_t tooLong = 0;         // longer than a packet: dropped unseen
  uint64_t pendingCopies = 0;   // handed-over copies whose queued deliveries have not all run
  bool listening = false;       // a run holds a socket bound to the port
};

}  // namespace tovik

class GetSet : public QThread {
  Q_OBJECT

 public:
  explicit GetSet(QObject* parent = nullptr);
  // Stops a running loop and waits for it.
  ~GetSet() override;

  // Telemetry port (low 16 bits used) and dotted multicast group; written by the owner only
  // while the thread is not running. A failed group join leaves unicast reception working.
  int port = 2369;
  std::string multicastIp = "224.1.1.1";
  // Set by the owner to end the run; seen within one 100 ms receive time-out, then cleared by
  // the run as it ends.
  std::atomic<bool> stopRequested{false};

  tovik::DeviceReceiverCounts stats() const;

  // One datagram of `length` bytes at the start of buffer (capacity kDevicePacketSize): when it
  // is exactly one packet long and its header matches, decodes it into *record and *mac (Mac
  // values appended) and writes deviceVerticalAngles. Returns whether the datagram was
  // accepted. A shorter one is never decoded: its missing fields would be read as zeros (or as
  // an earlier packet's bytes), and a record or packet built that way would reach every window
  // and become the template of the next configuration write. This is the receive loop's step
  // without the socket.
  static bool decodeDatagram(uint8_t* buffer, size_t length, SettingData* record,
                             std::vector<int>* mac);

 signals:
  // Once per accepted packet, in this order. Both pointers refer to a copy made for this packet
  // alone, which stays unchanged until every queued delivery of the packet has run; a slot
  // copies what it keeps before it returns.
  void SendLidarStatusToSettingUI(SettingData* data, std::vector<int> Mac);
  void SendDataDifo(const u_char*);
  // The telemetry port could not be bound (in use by a socket without SO_REUSEADDR, or not
  // permitted): the run ends at once, with the reason.
  void SendSocketError(QString reason);

 protected:
  void run() override;

 private:
  struct Counters;
  struct HandOver;
  void handOver(const SettingData& record, const uint8_t* packet, std::vector<int>* macValues);

  std::shared_ptr<Counters> counters_;
};
