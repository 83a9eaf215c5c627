// The receive loop shared by the two live receivers: one UDP socket bound to the data port,
// joined to the multicast group, polled with a 100 ms time-out so that a stop request is seen
// within one time-out even when nothing arrives.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/frame_pool.h"
#include "acquisition/lidar_data.h"
#include "acquisition/point_packet.h"
#include "acquisition/receiver_stats.h"
#include "acquisition/udp_socket.h"

namespace tovik {

constexpr int kReceiveTimeoutMs = 100;
// A few MB of socket buffer: the default (about 208 KB) loses packets in bursts.
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;
// A receive error returns at once, so the loop rests before it tries again: 10 ms after the
// first error, doubling while the errors last, never longer than one receive time-out (which
// keeps the stop latency bounded).
constexpr int kFirstErrorPauseMs = 10;
constexpr int kLongestErrorPauseMs = kReceiveTimeoutMs;

// Opens the data socket of a live receiver: bound to port on every local address (shared with
// other sockets that allow it), receive time-out and buffer set, joined to multicastIp.
// Returns false with the reason in *error when the receiver cannot run: no socket, a port held
// by a socket that does not share it, a group text that is not an IPv4 address. A dotted
// address that cannot be joined (a unicast address, a host without a multicast route) leaves
// the socket unjoined, since unicast datagrams still arrive: *joinNote then says why.
inline bool openLiveSocket(net::UdpSocket& socket, uint16_t port, const std::string& multicastIp,
                           std::string* error, std::string* joinNote) {
  joinNote->clear();
  if (!multicastIp.empty() && !net::isDottedIpv4(multicastIp)) {
    *error = "multicast group \"" + multicastIp + "\" is not an IPv4 address";
    return false;
  }
  if (!socket.open() || !socket.setReuseAddress(true)) {
    *error = socket.lastError();
    return false;
  }
  if (!socket.bind(std::string(), port)) {
    *error = "port " + std::to_string(port) + ": " + socket.lastError();
    return false;
  }
  if (!socket.setReceiveTimeout(kReceiveTimeoutMs)) {
    *error = socket.lastError();
    return false;
  }
  socket.setReceiveBufferSize(kReceiveBufferBytes);
  if (!multicastIp.empty() && !socket.joinMulticast(multicastIp)) *joinNote = socket.lastError();
  return true;
}

// Receives until stopRequested is set. Socket is anything with UdpSocket's receive(); tests
// hand in a fake. decode(image, frames) appends the frames a packet closed; deliver(frame)
// hands each one over.
template <typename Socket, typename Decode, typename Deliver>
void receiveUntilStopped(Socket& socket, const std::atomic<bool>& stopRequested,
                         ReceiverStats& stats, Decode&& decode, Deliver&& deliver) {
  uint8_t image[kPacketSize];
  std::vector<LidarData> frames;
  int errorPauseMs = 0;
  while (!stopRequested.load(std::memory_order_acquire)) {
    size_t length = 0;
    const net::RecvStatus st = socket.receive(image, sizeof image, &length);
    if (st == net::RecvStatus::Error) {
      ReceiverStats::bump(stats.receiveErrors);
      errorPauseMs = std::clamp(errorPauseMs * 2, kFirstErrorPauseMs, kLongestErrorPauseMs);
      std::this_thread::sleep_for(std::chrono::milliseconds(errorPauseMs));
      continue;
    }
    errorPauseMs = 0;
    if (st == net::RecvStatus::Timeout) continue;
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
}

// A whole run: opens the socket and records what its set-up said in notes, receives until
// stopRequested is set, then clears the flag. Returns false when the socket could not be set
// up (the reason is in notes.error(); the flag is cleared).
template <typename Decode, typename Deliver>
bool runLiveReceiveLoop(uint16_t port, const std::string& multicastIp,
                        std::atomic<bool>& stopRequested, ReceiverStats& stats,
                        ReceiverNotes& notes, Decode&& decode, Deliver&& deliver) {
  net::UdpSocket socket;
  std::string error, joinNote;
  const bool ok = openLiveSocket(socket, port, multicastIp, &error, &joinNote);
  notes.set(ok ? std::string() : error, joinNote);
  if (!ok) {
    stopRequested.store(false);
    return false;
  }
  receiveUntilStopped(socket, stopRequested, stats, decode, deliver);
  socket.close();
  stopRequested.store(false, std::memory_order_release);
  return true;
}

// A live receiver's run: assembler decodes the datagrams, each closed revolution leaves as a
// pooled handle through emitFrame(const SharedFrame&), and the frames its consumers hand back
// are reused for later revolutions. The assembler starts a fresh revolution, and the stats
// count the revolutions dropped at the size cap during this run only.
template <typename Assembler, typename EmitFrame>
bool runAssemblingReceiver(uint16_t port, const std::string& multicastIp,
                           std::atomic<bool>& stopRequested, ReceiverStats& stats,
                           ReceiverNotes& notes, Assembler& assembler, SharedFramePool& pool,
                           EmitFrame&& emitFrame) {
  assembler.reset();
  const uint64_t cappedBefore = assembler.cappedRevolutions();
  return runLiveReceiveLoop(
      port, multicastIp, stopRequested, stats, notes,
      [&](const uint8_t* image, std::vector<LidarData>& frames) {
        pool.drainInto([&assembler](LidarData&& f) { assembler.recycle(std::move(f)); });
        assembler.addPacket(image, frames);
        stats.cappedRevolutions.store(assembler.cappedRevolutions() - cappedBefore,
                                      std::memory_order_relaxed);
      },
      [&](LidarData& frame) { emitFrame(pool.share(std::move(frame))); });
}

}  // namespace tovik
