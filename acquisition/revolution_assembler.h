// Revolution assembly: cuts a stream of point data packets into LidarData frames.
//
// One object per decoding, fed one 1206-byte packet image at a time; the live receivers, the
// playback engine, the converter, the benchmarks and the fuzz targets all use these objects.
//
// Every frame these objects emit keeps the LidarData invariant: for each channel the four
// per-point lists have the same length.
//
// Buffers: a revolution is built in the lists of a frame that a consumer handed back with
// recycle(), when there is one, so a consumer that hands every frame back makes a steady stream
// allocate nothing. A consumer that keeps its frames costs one set of lists per revolution, sized
// from the previous revolution so that they never regrow.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "acquisition/lidar_data.h"

namespace tovik {

// A revolution that never closes (a motor standing still that keeps streaming, a crafted capture)
// would grow without end. The largest real revolution, 300 rpm in dual return, holds 2,000 firing
// positions of two 32-point blocks; four times that is the most a revolution may hold. Reaching it
// drops the revolution under construction, and the assembler counts the drop.
constexpr uint32_t kMaxRevolutionBlocks = 16000;
constexpr uint32_t kMaxRevolutionPoints = kMaxRevolutionBlocks * 32;

namespace assembly {

// A frame under construction. Its per-channel lists are kept at a size of room entries and the
// points they hold are counted apart, so that appending a block is plain stores; take() hands
// the frame out with lists of their exact length. Every block adds two points to every channel,
// so one count serves all channels, after the points carried over from the previous revolution
// (restore), whose number differs per channel.
class FrameBuilder {
 public:
  // Builds in buffer's lists (their contents are dropped), with room for `room` points per channel
  // and capacity for `capacity`, so that appending another frame's points at close (the merged
  // dual-return frame) does not reallocate.
  void start(LidarData&& buffer, size_t room, size_t capacity);
  // Drops every point and block azimuth; the room stays.
  void clear();

  // Appends block k of image at the given block azimuth; times[2 ch] and times[2 ch + 1] are the
  // firing times of channel ch's first- and second-sequence records (firingTimes).
  void appendBlock(const uint8_t* image, int k, float azimuth, const uint64_t* times);
  // Appends count blocks firstK, firstK + stride, ... of image at once, with the azimuths that
  // interpolatePrevious() after each of them would give; times[b] are block b's firing times.
  // The block azimuths are read from the image.
  void appendBlocks(const uint8_t* image, int firstK, int stride, int count,
                    const uint64_t* const* times);
  void interpolatePrevious();
  void extrapolateLast();
  void trimToAzimuths();
  // Moves the points below 5 degrees among the last 30 of each channel into held and zeroes them.
  void carryOver(LidarData& held);
  // Empties the frame, then opens it with held's points; empties held.
  void restore(LidarData& held);

  const std::vector<float>& blockAzimuth() const { return frame_.blockAzimuth; }
  void clearBlockAzimuth() { frame_.blockAzimuth.clear(); }
  // Blocks appended since the frame was started or cleared.
  uint32_t blocks() const { return blocks_; }
  // The longest channel, in points.
  size_t mostPoints() const { return n_ + mostHeld_; }

  // The finished frame, lists cut to their content; the builder needs start() again.
  LidarData take();
  // This frame's points followed, per channel, by other's (both trimmed to their azimuths), with
  // an empty blockAzimuth; other is cleared. The builder needs start() again.
  LidarData takeMerged(FrameBuilder& other);
  // A copy of the frame as it stands.
  LidarData snapshot() const;

 private:
  void grow(size_t points);
  void appendAzimuths(float base, float delta);
  LidarData release();

  LidarData frame_;
  size_t n_ = 0;    // points per channel with distance, intensity and time, after the held ones
  size_t azN_ = 0;  // points per channel with an azimuth, after the held ones
  std::array<uint32_t, kChannelCount> held_{};  // points restored at the start, per channel
  size_t mostHeld_ = 0;
  size_t room_ = 0;  // size() of every per-channel list of frame_
  uint32_t blocks_ = 0;
};

// Frames handed back by consumers, kept for the next revolutions.
class FramePool {
 public:
  static constexpr size_t kLimit = 4;
  FramePool() { frames_.reserve(kLimit); }
  // Keeps frame if it has lists worth reusing and the pool is not full; frees it otherwise.
  void put(LidarData&& frame);
  // A handed-back frame, or an empty one.
  LidarData take();
  size_t size() const { return frames_.size(); }

 private:
  std::vector<LidarData> frames_;
};

}  // namespace assembly

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
  // Hands back a frame this object emitted, once its consumer is done with it; a later revolution
  // is built in its lists. Hand it back as it was emitted (clearing it only costs time). Call on
  // the decoding thread.
  void recycle(LidarData&& frame) { pool_.put(std::move(frame)); }
  // Revolutions dropped at kMaxRevolutionBlocks since construction.
  uint64_t cappedRevolutions() const { return capped_; }

 private:
  assembly::FrameBuilder strongFrame_;
  LidarData held_;
  assembly::FramePool pool_;
  uint64_t capped_ = 0;
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
  void recycle(LidarData&& frame) { pool_.put(std::move(frame)); }
  uint64_t cappedRevolutions() const { return capped_; }

 private:
  void restart(assembly::FrameBuilder& frame, size_t room);

  std::atomic<int> echoCode_{kDualEcho};
  assembly::FrameBuilder strongFrame_, secondFrame_;
  LidarData heldStrong_, heldSecond_;
  assembly::FramePool pool_;
  uint64_t capped_ = 0;
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
  const LidarData& partialFrame() const;
  // Resets every accumulator and the close histories.
  void reset();

  // Convenience for whole packets: decodes all 12 blocks, appends closed frames to out. Reads
  // the echo code once per packet.
  int addPacket(const uint8_t* image, int direction, std::vector<LidarData>& out);

  void recycle(LidarData&& frame) { pool_.put(std::move(frame)); }
  uint64_t cappedRevolutions() const { return capped_; }

 private:
  void addSingleBlock(int k, int direction);
  void addDualBlock(int k, int direction);
  void closeFrame(assembly::FrameBuilder& frame, bool mergeSecond);
  // Whether a forward block of the current packet could close a revolution or reach the cap.
  bool packetMayClose() const;
  void addWholePacket();
  void pairTimes(int e);  // fills times_ for the pair (or block) e of the current packet

  Layout layout_;
  std::atomic<int> echoCode_{kDualEcho};
  const uint8_t* image_ = nullptr;
  uint32_t timestamp_ = 0;
  bool closed_ = false;
  int lastDirection_ = 1;
  assembly::FrameBuilder dualFrame_, strongFrame_, secondFrame_;
  LidarData closedFrame_;
  mutable LidarData partial_;
  // Block azimuths (below 360) played since the last close, per accumulator. Backward play
  // empties the accumulators' own block lists after every packet, so it tests these instead;
  // that also finds the revolution boundaries that fall between two packets.
  std::vector<float> azimuthHistory_, strongHistory_, secondHistory_;
  // Firing times of the records of the block (pair) timesBlock_ of packet timesPacket_.
  std::array<uint64_t, 32> times_{};
  uint64_t packet_ = 0, timesPacket_ = 0;
  int timesBlock_ = -1;
  assembly::FramePool pool_;
  uint64_t capped_ = 0;
};

// The close rule of forward offline decoding (OfflineAssembler, direction +1, the size cap
// included) over block azimuths alone: says at which block a revolution closes or is dropped,
// without decoding a point. A revolution opens with the block after a close or a drop; fed from
// there, a reset OfflineAssembler closes it at the same block.
class RevolutionCutter {
 public:
  enum class Event { None, Closed, Dropped };
  RevolutionCutter(OfflineAssembler::Layout layout, int echoCode);
  // Block k of a packet that passed the FF EE test, with its raw azimuth (hundredths).
  Event addBlock(int k, uint16_t rawAzimuth);

 private:
  bool dual_;
  bool testOdd_;  // dual-return: the echo code tests the odd blocks' accumulator
  uint32_t blocks_ = 0;
  bool haveTested_ = false;
  float lastTested_ = 0.0f;
};

// The counts of forward offline decoding (OfflineAssembler, direction +1) without decoding a point:
// the cutter's close rule, plus each block's point azimuths computed as the assembler computes
// them, tested against an azimuth range. A statistics pass costs a few operations per block
// instead of a frame's worth of stores.
class RevolutionCounter {
 public:
  // channels: bit k set counts channel index k's rows; a point is a row when
  // angleMin <= azimuth <= angleMax (csv::countRows over the decoded frame).
  RevolutionCounter(OfflineAssembler::Layout layout, int echoCode, uint16_t channels,
                    float angleMin, float angleMax);
  // Block k of a packet that passed the FF EE test, with its raw azimuth (hundredths). On Closed,
  // points() and rows() hold the closed revolution's counts until the next call.
  RevolutionCutter::Event addBlock(int k, uint16_t rawAzimuth);
  uint64_t points() const { return points_; }  // all channels, as LidarData::totalPoints()
  uint64_t rows() const { return rows_; }

 private:
  // One accumulator of the assembler (the single-return frame, or the even or odd blocks).
  struct Track {
    uint32_t blocks = 0;
    float last = 0.0f, beforeLast = 0.0f;
    uint64_t rows = 0;  // rows of the blocks whose azimuths are known (all but the last)
  };
  uint64_t blockRows(float base, float delta) const;
  void addToTrack(Track& t, float az) const;
  // Points and rows of a track at close: its last block's azimuths are extrapolated; a track of
  // one block has none and its points are trimmed away.
  void closeTrack(const Track& t, uint64_t* points, uint64_t* rows) const;

  RevolutionCutter cutter_;
  bool dual_;
  int echoCode_;
  uint32_t pairMask_;  // bit 2 ch and 2 ch + 1 set for every counted channel ch (pair order)
  int channelsCounted_;
  float angleMin_, angleMax_;
  bool everyAzimuth_;  // the range holds [0, 360): every point is a row
  Track tracks_[2];    // single: [0]; dual: [0] even blocks, [1] odd blocks
  uint64_t points_ = 0, rows_ = 0;
};

namespace assembly {
// Building blocks on plain frames (exposed for tests); the assemblers build with FrameBuilder,
// which computes the same values.

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
// The firing times of the 32 records of a block, in pair order (channel ch's first-sequence
// record at 2 ch, its second-sequence record at 2 ch + 1): timestamp + offsets[i], truncated to
// whole microseconds, 0 before the device clock's zero (firingTime). The offsets of block k of a
// live single-return packet, and of block (pair) index e of a dual-return or played packet:
void firingTimes(uint32_t timestamp, const int32_t* offsets, uint64_t* times);
const int32_t* singleOffsets(int k);
const int32_t* pairOffsets(int e);
}  // namespace assembly

}  // namespace tovik
