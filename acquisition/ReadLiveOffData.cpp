#include "acquisition/ReadLiveOffData.h"

#include <array>
#include <chrono>
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

void PlayGate::close() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return;
  // Closed first, so that the engine cannot slip into its next packet while we wait for it to
  // finish the current one.
  closed_ = true;
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

bool PlayGate::enter(const std::atomic<bool>& stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return !closed_ || stop.load(); });
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

void PlayGate::holdAfterStep(const std::atomic<bool>& stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  closed_ = true;
  // Waiting here counts as between packets: a pause pressed now returns at once.
  busy_ = false;
  changed_.notify_all();
  changed_.wait(lock, [&] { return !closed_ || stop.load(); });
  busy_ = true;
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
  { std::lock_guard<std::mutex> lock(restMutex_); }
  restWake_.notify_all();
  playGate.wake();
  wait();
  stopRequested_.store(false);
  playGate.open();
}

void ReadLiveOffData::restFor(int ms) {
  if (sleep_) {
    sleep_(ms);
    return;
  }
  std::unique_lock<std::mutex> lock(restMutex_);
  restWake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopRequested_.load(); });
}

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
      emit SendData(partial);
      if (assembler) assembler->reset();
      playDirection.store(1);
      if (!finished) {
        finished = true;
        emit SendBool(true);
      }
      endOfRun = true;
    }
  };

  std::array<uint8_t, tovik::kPacketSize> image;
  for (int64_t i = 0; i >= 0 && i < count;) {
    if (!playGate.enter(stopRequested_)) break;
    if (!tovik::capture::copyFromMapping(image.data(), packetList_[i], image.size())) {
      fileChanged = true;
      playGate.leave();
      break;
    }
    const bool decoded = assembler && assembler->beginPacket(image.data());
    for (int k = 0; k < tovik::kBlocksPerPacket && !stopRequested_.load() && !fileChanged; ++k) {
      if (decoded) {
        assembler->setEchoCode(echoCode());
        if (assembler->addBlock(k, direction())) {
          if (!sourceUnchanged()) break;
          emit SendData(assembler->takeFrame());
          restFor(tovik::framePauseMs(playSpeed.load()));
          int one = 1;
          if (stepPending.compare_exchange_strong(one, 0)) playGate.holdAfterStep(stopRequested_);
        }
      } else if (k > 0) {
        break;
      }
      endOfBlockChecks(i);
    }
    playGate.leave();
    // Frames in progress are discarded at the end of a run.
    if (endOfRun || fileChanged || stopRequested_.load()) break;
    i += direction();
  }
  if (fileChanged) emit SendFileChanged();
}
