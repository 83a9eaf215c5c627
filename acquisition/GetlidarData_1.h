// Live receiver for single-return lidars ("Tovik161"): receives point data packets on the data
// port and emits every closed revolution.
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <string>
#include <vector>

#include "acquisition/frame_pool.h"
#include "acquisition/lidar_data.h"
#include "acquisition/receiver_stats.h"
#include "acquisition/revolution_assembler.h"

struct SettingData;
typedef unsigned char u_char;

class GetlidarData_1 : public QThread {
  Q_OBJECT

 public:
  explicit GetlidarData_1(QObject* parent = nullptr);
  ~GetlidarData_1() override;

  // Set by the owner to end the run; the run clears it when it has ended.
  std::atomic<bool> stopRequested{false};
  // Data port and multicast group; written by the owner only while the thread is not running.
  quint16 port = 2368;
  std::string multicastIp = "224.1.1.1";

  int echoCode() const { return echoCode_.load(std::memory_order_relaxed); }
  const tovik::ReceiverStats& stats() const { return stats_; }
  // Why the last run could not open its socket (empty when it could).
  std::string lastError() const { return notes_.error(); }
  // Why the running (or last) run did not join its multicast group; it receives unicast then.
  std::string joinNote() const { return notes_.joinNote(); }

 signals:
  // Every closed revolution, as a handle whose frame returns to this receiver once released.
  void SendFrame(const tovik::SharedFrame& frame);
  // The same revolutions as copies; emitted only while something is connected to it.
  void SendData(LidarData lidardata);
  // Declared like the device information receiver's signals; never emitted by this class.
  void SendLidarStatusToSettingUI(SettingData* data, std::vector<int> Mac);
  void SendDataDifo(const u_char*);
  // The run could not set up its socket and has ended: reason names what failed.
  void SendSocketError(QString reason);

 public slots:
  // Stores the echo code; single-return decoding does not use it.
  void Receive(int ReturnModel);

 protected:
  void run() override;

 private:
  // The single accumulator (strongFrame) lives in the assembler.
  tovik::LiveSingleAssembler assembler_;
  std::atomic<int> echoCode_{0};
  tovik::ReceiverStats stats_;
  tovik::ReceiverNotes notes_;
  // Frames handed out with SendFrame come back here and are built in again.
  std::shared_ptr<tovik::SharedFramePool> framePool_ = tovik::SharedFramePool::create();
};
