#include "acquisition/ReadLiveOffData.h"

#include <QMutexLocker>
#include <memory>
#include <vector>

#include "acquisition/revolution_assembler.h"

namespace {

// Pause after each emitted revolution at normal speed.
constexpr int kFramePauseMs = 110;
constexpr int kPauseSliceMs = 10;

}  // namespace

ReadLiveOffData::ReadLiveOffData(QObject* parent) : QThread(parent) {}

ReadLiveOffData::~ReadLiveOffData() {
  stopRequested_.store(true);
  wait();
}

void ReadLiveOffData::setPackets(const uint8_t* const* list, uint32_t count) {
  packetList_ = list;
  packetCount_ = list != nullptr ? count : 0;
}

void ReadLiveOffData::ReceiveMode(int ReturnModel) {
  echoCode_.store(ReturnModel, std::memory_order_relaxed);
}

void ReadLiveOffData::pause(int ms) {
  for (int slept = 0; slept < ms && !stopRequested_.load(); slept += kPauseSliceMs)
    msleep(kPauseSliceMs);
}

void ReadLiveOffData::run() {
  stopRequested_.store(false);
  if (packetCount_ == 0) return;

  std::unique_ptr<tovik::OfflineAssembler> assembler;
  if (sensorType == QLatin1String(tovik::kSensorSingleOffline))
    assembler = std::make_unique<tovik::OfflineAssembler>(tovik::OfflineAssembler::Layout::Single);
  else if (sensorType == QLatin1String(tovik::kSensorDualOffline))
    assembler = std::make_unique<tovik::OfflineAssembler>(tovik::OfflineAssembler::Layout::Dual);

  std::vector<LidarData> frames;
  for (uint32_t i = 0; i < packetCount_ && !stopRequested_.load(); ++i) {
    frames.clear();
    {
      QMutexLocker gate(&playGate);
      if (assembler) {
        assembler->setEchoCode(echoCode());
        assembler->addPacket(packetList_[i], +1, frames);
      }
    }
    for (LidarData& frame : frames) {
      emit SendData(std::move(frame));
      pause(kFramePauseMs);
    }
  }
  // The partial last revolution is discarded.
  if (!stopRequested_.load()) emit SendBool(true);
}
