// Revolution assembly: cuts a stream of point data packets into LidarData frames.
//
// One object per decoding, fed one 1206-byte packet image at a time; the live receivers, the
// playback engine, the converter, the benchmarks and the fuzz targets all use these objects.
//
// Every frame these objects emit keeps the LidarData invariant: for each channel the four
// per-point lists have the same length.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "acquisition/lidar_data.h"

namespace tovik {

// Live single-return decoding: every block is its own firing position, one accumulator
// (strongFrame), carry-over of the points below 5 degrees into the next frame.
class LiveSingleAssembler {
 public:
  LiveSingleAssembler();
  // Decodes one packet image (kPacketSize bytes). Frames it closed are appended to out; returns
  // how many. Images that fail the FF EE test are ignored and return 0.
  int addPacket(const uint8_t* image, std::vector<LidarData>& out);
  // Discards the frame under construction and the carried points.
  void reset();

 private:
  LidarData strongFrame_;
  LidarData held_;
};

// Live dual-return decoding: blocks come in pairs; even blocks feed strongFrame, odd blocks
// secondFrame; the echo code selects which frame is tested and emitted.
class LiveDualAssembler {
 public:
  LiveDualAssembler();
  // Echo code 0, 1 or 2 (EchoCode); any other value acts as 0. Takes effect at the next block
  // and may be called from another thread.
  void setEchoCode(int code) { echoCode_.store(code, std::memory_order_relaxed); }
  int echoCode() const { return echoCode_.load(std::memory_order_relaxed); }
  int addPacket(const uint8_t* image, std::vector<LidarData>& out);
  void reset();

 private:
  std::atomic<int> echoCode_{kDualEcho};
  LidarData dualFrame_, strongFrame_, secondFrame_;
  LidarData heldStrong_, heldSecond_;
};

// Offline (playback) decoding, single-return or dual-return, forward or backward. No carry-over
// between frames. The playback engine drives it block by block so that it can pace and step
// between frames; the converter uses addPacket.
class OfflineAssembler {
 public:
  enum class Layout { Single, Dual };
  explicit OfflineAssembler(Layout layout);

  Layout layout() const { return layout_; }
  void setEchoCode(int code) { echoCode_.store(code, std::memory_order_relaxed); }
  int echoCode() const { return echoCode_.load(std::memory_order_relaxed); }

  // Starts decoding a packet image; returns false (and decodes nothing) when it fails FF EE.
  bool beginPacket(const uint8_t* image);
  // Decodes block k (0..11) of the current packet; direction +1 forward, -1 backward. Returns
  // true when a frame closed: take it with takeFrame() before the next block.
  bool addBlock(int k, int direction);
  // Moves the closed frame out and resets every accumulator (the frame epilogue).
  LidarData takeFrame();

  // The single-return accumulator as it stands (dualFrame); emitted when backward play reaches
  // the first packet. Empty in dual-return decoding.
  const LidarData& partialFrame() const { return dualFrame_; }
  // Resets every accumulator and the close histories.
  void reset();

  // Convenience for whole packets: decodes all 12 blocks, appends closed frames to out.
  int addPacket(const uint8_t* image, int direction, std::vector<LidarData>& out);

 private:
  void addSingleBlock(int k, int direction);
  void addDualBlock(int k, int direction);

  Layout layout_;
  std::atomic<int> echoCode_{kDualEcho};
  const uint8_t* image_ = nullptr;
  double timestamp_ = 0;
  bool closed_ = false;
  int lastDirection_ = 1;
  LidarData dualFrame_, strongFrame_, secondFrame_;
  LidarData closedFrame_;
  // Block azimuths (below 360) played since the last close, per accumulator. Backward play
  // empties the accumulators' own block lists after every packet, so it tests these instead;
  // that also finds the revolution boundaries that fall between two packets.
  std::vector<float> azimuthHistory_, strongHistory_, secondHistory_;
};

namespace assembly {
// Building blocks shared by the assemblers (exposed for tests).

// Appends block k of image to frame: its azimuth, then per channel the first-sequence and the
// second-sequence record, with firing times timestamp + timeBase + j' x 3.125.
void appendBlock(LidarData& frame, const uint8_t* image, int k, float azimuth, double timestamp,
                 double timeBase);
// Interpolates the azimuths of the previous block from the last two block azimuths.
void interpolatePrevious(LidarData& frame);
// Extrapolates the azimuths of the last block (at close); needs two block azimuths.
void extrapolateLast(LidarData& frame);
// |last - previous| > 180 over the last two entries.
bool wrapped(const std::vector<float>& azimuths);
// Moves the points below 5 degrees among the last 30 of each channel into held and zeroes them.
void carryOver(LidarData& frame, LidarData& held);
}  // namespace assembly

}  // namespace tovik
