// Counters of a receiving or playing thread, written by that thread and read by the GUI thread
// (status bar health read-out) and by tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <utility>

namespace tovik {

struct ReceiverCounters {
  uint64_t datagrams = 0;     // everything received on the socket
  uint64_t packets = 0;       // decoded point data packets
  uint64_t shortDropped = 0;  // datagrams shorter than a packet: dropped
  uint64_t oversized = 0;     // datagrams longer than a packet: dropped
  uint64_t ignored = 0;       // full-size datagrams that are not point data (no FF EE)
  uint64_t revolutions = 0;   // frames emitted
  uint64_t lastRevolutionPoints = 0;
  uint64_t receiveErrors = 0;      // receive calls that failed (not time-outs)
  uint64_t cappedRevolutions = 0;  // revolutions dropped at the size cap (never closed)
};

class ReceiverStats {
 public:
  void reset() {
    for (std::atomic<uint64_t>* c :
         {&datagrams, &packets, &shortDropped, &oversized, &ignored, &revolutions,
          &lastRevolutionPoints, &receiveErrors, &cappedRevolutions})
      c->store(0, std::memory_order_relaxed);
  }
  ReceiverCounters snapshot() const {
    ReceiverCounters s;
    s.datagrams = datagrams.load(std::memory_order_relaxed);
    s.packets = packets.load(std::memory_order_relaxed);
    s.shortDropped = shortDropped.load(std::memory_order_relaxed);
    s.oversized = oversized.load(std::memory_order_relaxed);
    s.ignored = ignored.load(std::memory_order_relaxed);
    s.revolutions = revolutions.load(std::memory_order_relaxed);
    s.lastRevolutionPoints = lastRevolutionPoints.load(std::memory_order_relaxed);
    s.receiveErrors = receiveErrors.load(std::memory_order_relaxed);
    s.cappedRevolutions = cappedRevolutions.load(std::memory_order_relaxed);
    return s;
  }
  static void bump(std::atomic<uint64_t>& c, uint64_t n = 1) {
    c.fetch_add(n, std::memory_order_relaxed);
  }

  std::atomic<uint64_t> datagrams{0}, packets{0}, shortDropped{0}, oversized{0}, ignored{0},
      revolutions{0}, lastRevolutionPoints{0}, receiveErrors{0}, cappedRevolutions{0};
};

// What a receiver's socket set-up said, written by the receiving thread as a run starts and
// read by the GUI thread at any time.
class ReceiverNotes {
 public:
  // error: why the run could not start (empty when it could); joinNote: why the multicast
  // group was not joined while the run goes on with unicast (empty when joined or none given).
  void set(std::string error, std::string joinNote) {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = std::move(error);
    joinNote_ = std::move(joinNote);
  }
  std::string error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
  }
  std::string joinNote() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return joinNote_;
  }

 private:
  mutable std::mutex mutex_;
  std::string error_, joinNote_;
};

}  // namespace tovik
