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
  static const QMetaMethod kSendData = QMetaMethod::fromSignal(&GetlidarData::SendData);
  const bool ok =
      tovik::runAssemblingReceiver(port, multicastIp, stopRequested, stats_, notes_, assembler_,
                                   *framePool_, [this](const tovik::SharedFrame& shared) {
                                     if (isSignalConnected(kSendData)) emit SendData(*shared);
                                     emit SendFrame(shared);
                                   });
  if (!ok) emit SendSocketError(QString::fromStdString(notes_.error()));
}
