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

void GetlidarData_1::run() {
  // Every run starts a fresh revolution.
  assembler_.reset();
  const bool ok = tovik::runLiveReceiveLoop(
      port, multicastIp, stopRequested, stats_, notes_,
      [this](const uint8_t* image, std::vector<LidarData>& frames) {
        assembler_.addPacket(image, frames);
      },
      [this](LidarData& frame) { emit SendData(std::move(frame)); });
  if (!ok) emit SendSocketError(QString::fromStdString(notes_.error()));
}
