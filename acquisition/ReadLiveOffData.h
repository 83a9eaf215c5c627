// Offline playback engine: decodes the point data packets of a loaded capture and emits every
// revolution. This version plays the packet table forward once at the normal pace (110 ms after
// each revolution); direction, speed and single steps are not in it yet.
#pragma once

#include <QMutex>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>

#include "acquisition/lidar_data.h"

class ReadLiveOffData : public QThread {
  Q_OBJECT

 public:
  explicit ReadLiveOffData(QObject* parent = nullptr);
  // Ends a running play after the current packet and waits for it.
  ~ReadLiveOffData() override;

  // The GUI holds it to pause; the engine takes it around every packet.
  QMutex playGate;
  // "Tovik16-1" plays single-return packets, "Tovik16-2" dual-return packets; any other text
  // skips every packet. Read when a run starts.
  QString sensorType;

  // count pointers to kPacketSize-byte packet images, owned by the caller, which keeps them
  // valid and unchanged while the engine runs. Call only while the engine is not running.
  void setPackets(const uint8_t* const* list, uint32_t count);
  int echoCode() const { return echoCode_.load(std::memory_order_relaxed); }

 signals:
  void SendData(LidarData lidardata);
  // true when the last packet has been played.
  void SendBool(bool Finsh);

 public slots:
  // Echo code of dual-return playback (0 both echoes, 1 strongest, 2 second).
  void ReceiveMode(int ReturnModel);

 protected:
  void run() override;

 private:
  // Sleeps ms milliseconds unless a stop is requested meanwhile.
  void pause(int ms);

  const uint8_t* const* packetList_ = nullptr;
  uint32_t packetCount_ = 0;
  std::atomic<int> echoCode_{0};
  std::atomic<bool> stopRequested_{false};
};
