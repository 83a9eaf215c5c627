#include "acquisition/GetlidarData_1.h"

#include <QMetaMethod>

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
  static const QMetaMethod kSendData = QMetaMethod::fromSignal(&GetlidarData_1::SendData);
  const bool ok =
      tovik::runAssemblingReceiver(port, multicastIp, stopRequested, stats_, notes_, assembler_,
                                   *framePool_, [this](const tovik::SharedFrame& shared) {
                                     if (isSignalConnected(kSendData)) emit SendData(*shared);
                                     emit SendFrame(shared);
                                   });
  if (!ok) emit SendSocketError(QString::fromStdString(notes_.error()));
}
