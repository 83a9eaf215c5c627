#include "acquisition/GetlidarData.h"

#include <QMetaMethod>

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
  // The assembler counts capped revolutions over its lifetime; the stats count this run's.
  const uint64_t cappedBefore = assembler_.cappedRevolutions();
  const bool ok = tovik::runLiveReceiveLoop(
      port, multicastIp, stopRequested, stats_, notes_,
      [this, cappedBefore](const uint8_t* image, std::vector<LidarData>& frames) {
        framePool_->drainInto([this](LidarData&& f) { assembler_.recycle(std::move(f)); });
        assembler_.addPacket(image, frames);
        stats_.cappedRevolutions.store(assembler_.cappedRevolutions() - cappedBefore,
                                       std::memory_order_relaxed);
      },
      [this](LidarData& frame) {
        const tovik::SharedFrame shared = framePool_->share(std::move(frame));
        static const QMetaMethod kSendData = QMetaMethod::fromSignal(&GetlidarData::SendData);
        if (isSignalConnected(kSendData)) emit SendData(*shared);
        emit SendFrame(shared);
      });
  if (!ok) emit SendSocketError(QString::fromStdString(notes_.error()));
}
