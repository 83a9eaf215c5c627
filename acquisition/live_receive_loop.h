// The receive loop shared by the two live receivers: one UDP socket bound to the data port,
// joined to the multicast group, polled with a 100 ms time-out so that a stop request is seen
// within one time-out even when nothing arrives.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/lidar_data.h"
#include "acquisition/point_packet.h"
#include "acquisition/receiver_stats.h"
#include "acquisition/udp_socket.h"

namespace tovik {

constexpr int kReceiveTimeoutMs = 100;
// A few MB of socket buffer: the default (about 208 KB) loses packets in bursts.
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

// Runs until stopRequested is set, then clears it. decode(image, frames) appends the frames a
// packet closed; deliver(frame) hands each one over. Returns false when the socket could not be
// set up (the reason is in *error).
template <typename Decode, typename Deliver>
bool runLiveReceiveLoop(uint16_t port, const std::string& multicastIp,
                        std::atomic<bool>& stopRequested, ReceiverStats& stats, Decode&& decode,
                        Deliver&& deliver, std::string* error) {
  net::UdpSocket socket;
  bool ok = socket.open() && socket.setReuseAddress(true) && socket.bind(std::string(), port);
  if (ok) {
    socket.setReceiveBufferSize(kReceiveBufferBytes);
    // A unicast or empty group text leaves the socket unjoined; unicast still arrives.
    if (!multicastIp.empty()) socket.joinMulticast(multicastIp);
    ok = socket.setReceiveTimeout(kReceiveTimeoutMs);
  }
  if (!ok) {
    if (error) *error = socket.lastError();
    stopRequested.store(false);
    return false;
  }

  uint8_t image[kPacketSize];
  std::vector<LidarData> frames;
  while (!stopRequested.load(std::memory_order_acquire)) {
    size_t length = 0;
    const net::RecvStatus st = socket.receive(image, sizeof image, &length);
    if (st == net::RecvStatus::Timeout || st == net::RecvStatus::Error) continue;
    ReceiverStats::bump(stats.datagrams);
    if (st == net::RecvStatus::Truncated) {
      ReceiverStats::bump(stats.oversized);
      continue;
    }
    // A short datagram would be decoded over the previous datagram's bytes: drop it.
    if (length < kPacketSize) {
      ReceiverStats::bump(stats.shortDropped);
      continue;
    }
    if (!isPointPacket(image)) {
      ReceiverStats::bump(stats.ignored);
      continue;
    }
    ReceiverStats::bump(stats.packets);
    frames.clear();
    decode(image, frames);
    for (LidarData& f : frames) {
      ReceiverStats::bump(stats.revolutions);
      stats.lastRevolutionPoints.store(f.totalPoints(), std::memory_order_relaxed);
      deliver(f);
    }
  }
  socket.close();
  stopRequested.store(false, std::memory_order_release);
  return true;
}

}  // namespace tovik
