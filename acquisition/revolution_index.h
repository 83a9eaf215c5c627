// Revolution index: where each revolution of a packet list starts, so that any revolution can be
// decoded without decoding the ones before it.
//
// Forward offline decoding (OfflineAssembler, direction +1) closes a revolution at the block whose
// azimuth wraps; every accumulator is then reset, so the next revolution opens with the block
// after it: later in the same packet, or at block 0 of the next packet. The index runs that close
// rule over the block azimuths alone, without decoding a point, and records for every revolution
// the packet and block it starts with. Seeking to revolution i is then: reset the assembler, feed
// blocks start.block..11 of packet start.packet, then whole packets until a frame closes. That
// frame equals the i-th frame (from 0) of decoding the whole list from packet 0, the way the
// converter and forward playback do.
//
// UI-free and I/O-free: it reads the packet images the caller holds (a memory-mapped capture,
// the playback engine's packet table). It reads about 24 bytes of each packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "acquisition/lidar_data.h"
#include "acquisition/revolution_assembler.h"

namespace tovik {

// The first block of a revolution.
struct RevolutionStart {
  size_t packet = 0;  // position in the packet list
  int block = 0;      // 0..11
};

class RevolutionIndex {
 public:
  using Layout = OfflineAssembler::Layout;

  RevolutionIndex() = default;

  // Scans packets (each kPacketSize bytes) in order with the close rule of forward offline
  // decoding for this layout and echo code (dual-return only: 2 tests the odd blocks, any other
  // code the even ones). Packets failing the FF EE test are skipped as the assembler skips them.
  static RevolutionIndex build(const std::vector<const uint8_t*>& packets, Layout layout,
                               int echoCode);

  Layout layout() const { return layout_; }
  int echoCode() const { return echoCode_; }
  // Closed revolutions. The revolution still open after the last packet is not counted: forward
  // decoding never emits it either.
  size_t size() const { return starts_.size(); }
  bool empty() const { return starts_.empty(); }
  // Revolution i (i < size()) starts at start(i) and closes in packet closePacket(i).
  const RevolutionStart& start(size_t i) const { return starts_[i]; }
  size_t closePacket(size_t i) const { return closes_[i]; }
  // Revolutions dropped at the size cap (kMaxRevolutionBlocks) before revolution i closed, and in
  // the whole list.
  size_t droppedBefore(size_t i) const { return dropsBefore_[i]; }
  size_t dropped() const { return dropped_; }

 private:
  Layout layout_ = Layout::Single;
  int echoCode_ = kDualEcho;
  std::vector<RevolutionStart> starts_;
  std::vector<size_t> closes_;
  std::vector<uint32_t> dropsBefore_;
  size_t dropped_ = 0;
};

// Decodes revolution i of packets into *frame with assembler, which is reset first and must have
// the index's layout and echo code. Returns false (and leaves *frame alone) when i is out of range
// or no frame closed, which means the packets are not the ones the index was built from.
bool decodeRevolution(OfflineAssembler& assembler, const std::vector<const uint8_t*>& packets,
                      const RevolutionIndex& index, size_t i, LidarData* frame);

// Which decoding a packet list needs, judged from its first packets (at most maxPackets): the
// device sends both blocks of a dual-return pair with one azimuth, while consecutive single-return
// blocks are a firing apart. Unknown when no packet tells (none given, or the motor stands still
// and every block has the same azimuth).
enum class LayoutGuess { Unknown, Single, Dual };
LayoutGuess guessLayout(const std::vector<const uint8_t*>& packets, size_t maxPackets = 64);

}  // namespace tovik
