#include "acquisition/ReadLiveOffData.h"

#include <QMetaMethod>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include "acquisition/capture_file.h"
#include "acquisition/point_packet.h"
#include "acquisition/revolution_assembler.h"

std::atomic<int> playDirection{1};
std::atomic<int> playSpeed{0};
std::atomic<int> stepPending{0};

namespace tovik {

int framePauseMs(int speed) {
  switch (speed) {
    case 0:
      return 110;
    case 1:
      return 80;
    case 2:
      return 50;
    case 3:
      return 130;
    default:
      return 150;
  }
}

double speedFactor(int speed) {
  switch (speed) {
    case 0:
      return 1.0;
    case 1:
      return 2.0;
    case 2:
      return 3.0;
    case 3:
      return 0.5;
    default:
      return 0.25;
  }
}

int realTimePauseMs(uint64_t fromNs, uint64_t toNs, int speed) {
  const uint64_t span = toNs >= fromNs ? toNs - fromNs : fromNs - toNs;
  const double ms = double(span) / 1e6 / speedFactor(speed);
  return ms >= kMaxRealTimePauseMs ? kMaxRealTimePauseMs : int(std::lround(ms));
}

void PlayGate::close() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return;
  // Closed first, so that the engine cannot slip into its next packet while we wait for it to
  // finish the current one; the notification cuts a frame pause short.
  closed_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !busy_; });
}

void PlayGate::open() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = false;
  }
  changed_.notify_all();
}

bool PlayGate::isClosed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

namespace {
bool seekAsked(const std::atomic<int>* seek) { return seek != nullptr && seek->load() >= 0; }
}  // namespace

bool PlayGate::enter(const std::atomic<bool>& stop, const std::atomic<int>* seek) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return !closed_ || stop.load() || seekAsked(seek); });
  if (stop.load()) return false;
  busy_ = true;
  return true;
}

void PlayGate::leave() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    busy_ = false;
  }
  changed_.notify_all();
}

void PlayGate::holdAfterStep(const std::atomic<bool>& stop, const std::atomic<int>* seek) {
  std::unique_lock<std::mutex> lock(mutex_);
  closed_ = true;
  // Waiting here counts as between packets: a pause pressed now returns at once.
  busy_ = false;
  changed_.notify_all();
  changed_.wait(lock, [&] { return !closed_ || stop.load() || seekAsked(seek); });
  busy_ = true;
}

void PlayGate::rest(int ms, const std::atomic<bool>& stop, const std::atomic<int>* seek) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(ms),
                    [&] { return closed_ || stop.load() || seekAsked(seek); });
}

void PlayGate::wake() {
  // Taking the lock orders the wake after any waiter's test of its stop flag.
  { std::lock_guard<std::mutex> lock(mutex_); }
  changed_.notify_all();
}

}  // namespace tovik

ReadLiveOffData::ReadLiveOffData(QObject* parent) : QThread(parent) {}

ReadLiveOffData::~ReadLiveOffData() { requestStop(); }

void ReadLiveOffData::setPackets(const uint8_t* const* list, uint32_t count) {
  packetList_ = list;
  packetCount_ = list != nullptr ? count : 0;
}

void ReadLiveOffData::ReceiveMode(int ReturnModel) {
  echoCode_.store(ReturnModel, std::memory_order_relaxed);
}

void ReadLiveOffData::setSleepFunction(SleepFunction sleep) { sleep_ = std::move(sleep); }

void ReadLiveOffData::setSourceCheck(SourceCheck unchanged) {
  sourceUnchanged_ = std::move(unchanged);
}

void ReadLiveOffData::requestStop() {
  stopRequested_.store(true);
  playGate.wake();
  wait();
  stopRequested_.store(false);
  seekTarget_.store(-1);
  playGate.open();
}

void ReadLiveOffData::setSeekIndex(std::shared_ptr<const tovik::RevolutionIndex> index) {
  std::lock_guard<std::mutex> lock(indexMutex_);
  seekIndex_ = std::move(index);
}

std::shared_ptr<const tovik::RevolutionIndex> ReadLiveOffData::seekIndex() const {
  std::lock_guard<std::mutex> lock(indexMutex_);
  return seekIndex_;
}

void ReadLiveOffData::requestSeek(int revolution) {
  seekTarget_.store(revolution < 0 ? 0 : revolution);
  playGate.wake();
}

void ReadLiveOffData::restFor(int ms) {
  if (sleep_) {
    sleep_(ms);
    return;
  }
  playGate.rest(ms, stopRequested_, &seekTarget_);
}

namespace {

// The index revolution holding block `block` of packet `packet`: the last one starting at or
// before it (0 before the first).
int revolutionAt(const tovik::RevolutionIndex& index, int64_t packet, int block) {
  size_t lo = 0, hi = index.size();
  while (lo < hi) {
    const size_t mid = (lo + hi) / 2;
    const tovik::RevolutionStart& s = index.start(mid);
    if (int64_t(s.packet) < packet || (int64_t(s.packet) == packet && s.block <= block))
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo == 0 ? 0 : int(lo - 1);
}

}  // namespace

void ReadLiveOffData::run() {
  if (packetCount_ == 0 || packetList_ == nullptr) return;

  std::unique_ptr<tovik::OfflineAssembler> assembler;
  if (sensorType == QLatin1String(tovik::kSensorSingleOffline))
    assembler = std::make_unique<tovik::OfflineAssembler>(tovik::OfflineAssembler::Layout::Single);
  else if (sensorType == QLatin1String(tovik::kSensorDualOffline))
    assembler = std::make_unique<tovik::OfflineAssembler>(tovik::OfflineAssembler::Layout::Dual);

  const int64_t count = packetCount_;
  bool finished = false;  // the end has been reported in this run
  bool endOfRun = false;
  bool fileChanged = false;
  const auto direction = [] { return playDirection.load() < 0 ? -1 : 1; };
  // Every frame is checked against the file before it leaves: what it holds was read before
  // the check, so a frame that passes came from the file as it was loaded.
  const auto sourceUnchanged = [&] {
    if (!fileChanged && sourceUnchanged_ && !sourceUnchanged_()) fileChanged = true;
    return !fileChanged;
  };

  // The first block of the frame under construction (for its revolution number) and the packet
  // that closed the frame before it (for real-time pacing); -1 after a reset.
  bool frameOpen = false;
  int64_t framePacket = 0;
  int frameBlock = 0;
  int64_t lastClosePacket = -1;
  const auto noteBlock = [&](int64_t packet, int block) {
    if (frameOpen) return;
    frameOpen = true;
    framePacket = packet;
    frameBlock = block;
  };
  const auto resetFrame = [&] {
    if (assembler) assembler->reset();
    frameOpen = false;
    lastClosePacket = -1;
  };
  // Frames go out as pooled handles, and as copies only to those connected to SendData.
  static const QMetaMethod kSendData = QMetaMethod::fromSignal(&ReadLiveOffData::SendData);
  const auto deliver = [&](LidarData&& frame) {
    const tovik::SharedFrame shared = framePool_->share(std::move(frame));
    if (isSignalConnected(kSendData)) emit SendData(*shared);
    emit SendFrame(shared);
  };
  // Frames the consumers released are built in again.
  const auto recycleReturned = [&] {
    if (assembler) framePool_->drainInto([&](LidarData&& f) { assembler->recycle(std::move(f)); });
  };
  // Emits a closed frame that ended in packet closePacket; returns the pause that follows it.
  const auto emitFrame = [&](LidarData frame, int64_t closePacket) {
    deliver(std::move(frame));
    if (const auto index = seekIndex(); index && frameOpen && !index->empty())
      emit SendRevolution(revolutionAt(*index, framePacket, frameBlock));
    const int speed = playSpeed.load();
    int pauseMs = tovik::framePauseMs(speed);
    if (realTime_.load() && packetTimesNs_ != nullptr) {
      const int64_t from = lastClosePacket >= 0 ? lastClosePacket : framePacket;
      pauseMs = tovik::realTimePauseMs(packetTimesNs_[from], packetTimesNs_[closePacket], speed);
    }
    frameOpen = false;
    lastClosePacket = closePacket;
    return pauseMs;
  };
  // The checks after every block (once per packet for packets that are not decoded): the end of
  // the table going forward, the first packet going backward.
  const auto endOfBlockChecks = [&](int64_t i) {
    if (i == count - 1 && !finished) {
      finished = true;
      emit SendBool(true);
      endOfRun = true;
    }
    if (i == 0 && direction() < 0) {
      if (!sourceUnchanged()) return;
      LidarData partial = assembler ? assembler->partialFrame() : LidarData();
      partial.trimToAzimuths();
      deliver(std::move(partial));
      resetFrame();
      playDirection.store(1);
      if (!finished) {
        finished = true;
        emit SendBool(true);
      }
      endOfRun = true;
    }
  };

  std::array<uint8_t, tovik::kPacketSize> image;
  // Where play goes on after a seek, in either direction: chosen at the next packet, so that a
  // step back followed by Play goes on forward from the revolution shown.
  struct Resume {
    bool pending = false;
    int64_t forwardPacket = 0;  // the block after the sought revolution's close
    int forwardBlock = 0;
    int64_t backwardPacket = 0;  // the packet before its first block (packet 0 ends the run)
  } resume;
  // Decodes revolution `target` whole, from its first block, and emits it. Returns the pause
  // after the frame, or -1 when nothing was emitted.
  const auto seekTo = [&](int target) {
    resetFrame();
    recycleReturned();
    const auto index = seekIndex();
    if (!assembler || !index || index->empty()) return -1;
    const tovik::RevolutionStart s = index->start(std::min(size_t(target), index->size() - 1));
    // No frame closing means the index does not fit this decoding (an echo code changed under
    // it): play goes on from the revolution's first block.
    resume = {true, int64_t(s.packet), s.block, int64_t(s.packet)};
    for (int64_t p = int64_t(s.packet); p < count; ++p) {
      if (!tovik::capture::copyFromMapping(image.data(), packetList_[p], image.size())) {
        fileChanged = true;
        return -1;
      }
      if (!assembler->beginPacket(image.data())) continue;
      assembler->setEchoCode(echoCode());
      for (int k = p == int64_t(s.packet) ? s.block : 0; k < tovik::kBlocksPerPacket; ++k) {
        noteBlock(p, k);
        if (!assembler->addBlock(k, +1)) continue;
        if (!sourceUnchanged()) return -1;
        const bool lastBlock = k + 1 == tovik::kBlocksPerPacket;
        resume = {true, lastBlock ? p + 1 : p, lastBlock ? 0 : k + 1,
                  std::max<int64_t>(int64_t(s.packet) - 1, 0)};
        return emitFrame(assembler->takeFrame(), p);
      }
    }
    resetFrame();
    return -1;
  };

  int64_t i = 0;
  int firstBlock = 0;  // the first block of packet i to decode (after a seek)
  while (i >= 0 && i < count) {
    if (!playGate.enter(stopRequested_, &seekTarget_)) break;
    const int target = seekTarget_.exchange(-1);
    if (target >= 0) {
      const int pauseMs = seekTo(target);
      // Paused, the sought frame stays on show; playing, it is paced like any other.
      if (pauseMs >= 0 && !playGate.isClosed()) restFor(pauseMs);
      playGate.leave();
      if (fileChanged || stopRequested_.load()) break;
      continue;
    }
    if (resume.pending) {
      resume.pending = false;
      const bool forward = direction() > 0;
      i = forward ? resume.forwardPacket : resume.backwardPacket;
      firstBlock = forward ? resume.forwardBlock : 0;
      if (i >= count) {
        // The sought revolution closed in the last block of the table.
        playGate.leave();
        break;
      }
    }
    if (!tovik::capture::copyFromMapping(image.data(), packetList_[i], image.size())) {
      fileChanged = true;
      playGate.leave();
      break;
    }
    recycleReturned();
    const bool decoded = assembler && assembler->beginPacket(image.data());
    for (int k = firstBlock; k < tovik::kBlocksPerPacket && !stopRequested_.load() && !fileChanged;
         ++k) {
      if (decoded) {
        assembler->setEchoCode(echoCode());
        noteBlock(i, k);
        if (assembler->addBlock(k, direction())) {
          if (!sourceUnchanged()) break;
          restFor(emitFrame(assembler->takeFrame(), i));
          int one = 1;
          if (stepPending.compare_exchange_strong(one, 0))
            playGate.holdAfterStep(stopRequested_, &seekTarget_);
          // A seek takes over from here; the frame in hand is complete.
          if (seekPending()) break;
        }
      } else if (k > firstBlock) {
        break;
      }
      endOfBlockChecks(i);
    }
    firstBlock = 0;
    playGate.leave();
    // Frames in progress are discarded at the end of a run.
    if (endOfRun || fileChanged || stopRequested_.load()) break;
    if (seekPending()) continue;
    i += direction();
  }
  if (fileChanged) {
    emit SendFileChanged();
  } else if (!finished && !stopRequested_.load() && i >= count) {
    // A seek to the last revolution can leave the cursor past the last packet.
    emit SendBool(true);
  }
}
