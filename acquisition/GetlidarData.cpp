#include "acquisition/GetlidarData.h"

#include "acquisition/live_receive_loop.h"

GetlidarData::GetlidarData(QObject* parent) : QThread(parent) {}

GetlidarData::~GetlidarData() {
  stopRequested.store(true);
  wait();
}

void GetlidarData::Receive(int ReturnModel) { assembler_.setEchoCode(ReturnModel); }

void GetlidarData::run() {
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
