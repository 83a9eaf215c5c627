// Live revolutions from the lidar's UDP stream, for Python: the live receivers' decoding (with
// their carry-over between revolutions) over a socket polled with a short time-out, so that a
// close request or Ctrl+C is seen within one time-out.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "acquisition/geometry.h"
#include "acquisition/lidar_data.h"
#include "acquisition/point_packet.h"
#include "acquisition/revolution_assembler.h"
#include "acquisition/udp_socket.h"

namespace tovik::python {

class LiveStream {
 public:
  // Binds the data port (every local address, address reuse on, as the viewer does) and, when
  // devicePort >= 0, the telemetry port. layout: -1 decides from the first point packet whose
  // block azimuths tell, 0 single-return, 1 dual-return. degreeMode, accuaryMode: -1 follows the
  // device packets (0 until one arrives). group: a multicast group to join, or empty. Raises
  // OSError when the data port cannot be bound.
  LiveStream(uint16_t port, int layout, const std::string& group, int echoCode, int degreeMode,
             int accuaryMode, int devicePort);
  ~LiveStream();

  // The next revolution as revolutionArrays(), or None when timeoutSeconds (negative: no limit)
  // passed first or the stream is closed. Raises KeyboardInterrupt (or whatever a signal handler
  // raises) within one receive time-out of the signal.
  pybind11::object next(double timeoutSeconds);
  // Stops the stream and closes its sockets; a next() running in another thread returns None
  // within one receive time-out. Idempotent.
  void close();
  bool closed() const { return stop_.load(); }

  // "Tovik161" or "Tovik162" once known, else empty.
  std::string sensor() const;
  int degreeMode() const { return degreeMode_.load(); }
  int accuaryMode() const { return accuaryMode_.load(); }
  // The last device information packet as a dict, or None before the first.
  pybind11::object lastDevicePacket() const;
  // Point data packets decoded, revolutions emitted, other datagrams ignored.
  pybind11::dict counters() const;

 private:
  // Receives until a revolution is ready, the slice ends or the stream is stopped.
  void pump(int sliceMs);
  void handlePoint(const uint8_t* image);
  void handleDevice(const uint8_t* image);
  void closeSockets();

  net::UdpSocket data_, device_;
  std::mutex mutex_;  // held by the thread inside pump() and by close()
  std::atomic<bool> stop_{false};
  std::atomic<int> layout_;
  int echoCode_;
  bool followDegree_, followResolution_;
  std::atomic<int> degreeMode_, accuaryMode_;
  std::unique_ptr<LiveSingleAssembler> single_;
  std::unique_ptr<LiveDualAssembler> dual_;
  std::deque<LidarData> ready_;
  AngleTable deviceAngles_{};  // all zero until a device packet arrives: the nominal table is used
  mutable std::mutex deviceMutex_;
  bool haveDevicePacket_ = false;
  std::array<uint8_t, kPacketSize> lastDevice_{};
  std::atomic<uint64_t> packets_{0}, revolutions_{0}, ignored_{0}, devicePackets_{0};
};

}  // namespace tovik::python
