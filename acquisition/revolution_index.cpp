#include "acquisition/revolution_index.h"

#include "acquisition/point_packet.h"

namespace tovik {

RevolutionIndex RevolutionIndex::build(const std::vector<const uint8_t*>& packets, Layout layout,
                                       int echoCode) {
  RevolutionIndex index;
  index.layout_ = layout;
  index.echoCode_ = echoCode;
  index.starts_.reserve(packets.size() / 64 + 1);
  index.closes_.reserve(packets.size() / 64 + 1);
  index.dropsBefore_.reserve(packets.size() / 64 + 1);

  // The assemblers' own close rule, the size cap included: a revolution dropped at the cap is
  // not indexed, and the next one opens with the block after it.
  RevolutionCutter cutter(layout, echoCode);
  RevolutionStart pending;
  for (size_t p = 0; p < packets.size(); ++p) {
    const uint8_t* image = packets[p];
    if (!isPointPacket(image)) continue;
    for (int k = 0; k < kBlocksPerPacket; ++k) {
      const RevolutionCutter::Event e = cutter.addBlock(k, rawBlockAzimuth(image, k));
      if (e == RevolutionCutter::Event::None) continue;
      if (e == RevolutionCutter::Event::Closed) {
        index.starts_.push_back(pending);
        index.closes_.push_back(p);
        index.dropsBefore_.push_back(uint32_t(index.dropped_));
      } else {
        ++index.dropped_;
      }
      pending = k + 1 < kBlocksPerPacket ? RevolutionStart{p, k + 1} : RevolutionStart{p + 1, 0};
    }
  }
  return index;
}

bool decodeRevolution(OfflineAssembler& assembler, const std::vector<const uint8_t*>& packets,
                      const RevolutionIndex& index, size_t i, LidarData* frame) {
  if (i >= index.size()) return false;
  assembler.reset();
  const RevolutionStart& s = index.start(i);
  const size_t last = index.closePacket(i);
  for (size_t p = s.packet; p <= last && p < packets.size(); ++p) {
    if (!assembler.beginPacket(packets[p])) continue;
    for (int k = p == s.packet ? s.block : 0; k < kBlocksPerPacket; ++k) {
      if (assembler.addBlock(k, +1)) {
        *frame = assembler.takeFrame();
        return true;
      }
    }
  }
  assembler.reset();
  return false;
}

LayoutGuess guessLayout(const std::vector<const uint8_t*>& packets, size_t maxPackets) {
  int singleVotes = 0, dualVotes = 0;
  for (size_t p = 0; p < packets.size() && p < maxPackets; ++p) {
    const uint8_t* image = packets[p];
    if (!isPointPacket(image)) continue;
    bool pairsEqual = true, allEqual = true;
    const uint16_t first = rawBlockAzimuth(image, 0);
    for (int k = 0; k < kBlocksPerPacket; k += 2) {
      const uint16_t a = rawBlockAzimuth(image, k), b = rawBlockAzimuth(image, k + 1);
      pairsEqual = pairsEqual && a == b;
      allEqual = allEqual && a == first && b == first;
    }
    if (!pairsEqual)
      ++singleVotes;
    else if (!allEqual)
      ++dualVotes;
  }
  if (singleVotes == dualVotes) return LayoutGuess::Unknown;
  return dualVotes > singleVotes ? LayoutGuess::Dual : LayoutGuess::Single;
}

}  // namespace tovik
