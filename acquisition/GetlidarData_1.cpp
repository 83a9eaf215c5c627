#include "acquisition/GetlidarData_1.h"

#include "acquisition/live_receive_loop.h"

GetlidarData_1::GetlidarData_1(QObject* parent) : QThread(parent) {}

GetlidarData_1::~GetlidarData_1() {
  stopRequested.store(true);
  wait();
}

void GetlidarData_1::Receive(int ReturnModel) {
  echoCode_.store(ReturnModel, std::memory_order_relaxed);
}

std::string GetlidarData_1::lastError() const {
  // Written by the worker before it returns; read after the run has ended.
  return errorSet_.load(std::memory_order_acquire) ? lastError_ : std::string();
}

void GetlidarData_1::run() {
  // Every run starts a fresh revolution.
  assembler_.reset();
  errorSet_.store(false, std::memory_order_release);
  std::string error;
  const bool ok = tovik::runLiveReceiveLoop(
      port, multicastIp, stopRequested, stats_,
      [this](const uint8_t* image, std::vector<LidarData>& frames) {
        assembler_.addPacket(image, frames);
      },
      [this](LidarData& frame) { emit SendData(std::move(frame)); }, &error);
  if (!ok) {
    lastError_ = error;
    errorSet_.store(true, std::memory_order_release);
  }
}
