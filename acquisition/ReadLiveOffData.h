// Offline playback engine: walks the point data packets of a loaded capture forward or backward,
// decodes them like a live receiver (without carry-over between frames) and emits every
// revolution, paced by the selected speed, with pause and single-frame stepping.
//
// The window steers a running engine through the three process-wide values below and the gate
// playGate; the engine reads the values at the next packet or frame.
#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "acquisition/frame_pool.h"
#include "acquisition/lidar_data.h"
#include "acquisition/revolution_index.h"

// +1 plays forward, -1 backward: the step added to the packet index after every packet. The
// engine sets it back to +1 when backward play reaches the first packet.
extern std::atomic<int> playDirection;
// 0 normal, 1 twice, 2 three times, 3 half, 4 quarter speed: selects the pause after each frame.
extern std::atomic<int> playSpeed;
// 1 asks the engine to close playGate after the next emitted frame (single step); the engine
// sets it back to 0 when it does.
extern std::atomic<int> stepPending;

namespace tovik {

// Milliseconds the engine rests after each emitted frame for a playSpeed value: 110, 80, 50,
// 130 for 0..3 and 150 for any other value.
int framePauseMs(int speed);

// Real-time playback: the speed factor of a playSpeed value (1, 2, 3, 0.5, 0.25 for 0..4; 0.25
// for any other value), and the pause after a frame: the capture time between the packets that
// closed this frame and the one before it, divided by that factor, in whole milliseconds. A gap
// in the capture (recording paused, a lost link) would hold playback for as long; the pause is
// bounded by kMaxRealTimePauseMs.
double speedFactor(int speed);
constexpr int kMaxRealTimePauseMs = 2000;
int realTimePauseMs(uint64_t fromNs, uint64_t toNs, int speed);

// The pause gate between the window and the engine, with binary-semaphore semantics: any thread
// may open it, whichever thread closed it. The engine holds it while it processes a packet, so
// close() from the window returns only once the engine is between two packets; closing a gate
// that is already closed (after a single step, or a second pause) returns at once.
class PlayGate {
 public:
  // Window side: pause. Waits while the engine is inside a packet.
  void close();
  // Any thread: resume or step.
  void open();
  bool isClosed() const;

  // Engine side. enter() waits while the gate is closed and marks a packet in progress; it
  // returns false without entering when stop becomes true. A seek (seek >= 0) enters a closed
  // gate too: the engine shows the sought revolution while paused. leave() ends the packet.
  bool enter(const std::atomic<bool>& stop, const std::atomic<int>* seek = nullptr);
  void leave();
  // Engine side, inside a packet: closes the gate after a stepped frame and waits until someone
  // opens it (or stop becomes true, or a seek is asked for); the packet stays in progress
  // afterwards.
  void holdAfterStep(const std::atomic<bool>& stop, const std::atomic<int>* seek = nullptr);
  // Engine side, inside a packet: the pause after a frame. Ends early when the gate is closed
  // (so that a pause never waits out the rest), on stop and on a seek.
  void rest(int ms, const std::atomic<bool>& stop, const std::atomic<int>* seek);
  // Wakes every waiter so that it re-reads its stop flag.
  void wake();

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  bool busy_ = false;  // the engine is processing a packet
};

}  // namespace tovik

class ReadLiveOffData : public QThread {
  Q_OBJECT

 public:
  explicit ReadLiveOffData(QObject* parent = nullptr);
  // Ends a running play promptly (also while paused) and waits for it.
  ~ReadLiveOffData() override;

  // Closed by the window to pause; the engine passes it once per packet.
  tovik::PlayGate playGate;
  // "Tovik16-1" plays single-return packets, "Tovik16-2" dual-return packets; any other text
  // skips every packet. Read when a run starts.
  QString sensorType;

  // count pointers to kPacketSize-byte packet images, owned by the caller, which keeps them
  // valid while the engine runs. They may point into a capture file's mapping: each packet is
  // copied out so that a file shortened under it ends the run with SendFileChanged() instead of
  // a SIGBUS. Call only while the engine is not running.
  void setPackets(const uint8_t* const* list, uint32_t count);
  // Asked before every frame is emitted whether the packets' file is still the one that was
  // loaded (CaptureFile::changedOnDisk() negated); false ends the run with SendFileChanged(),
  // without that frame. None by default. Set only while the engine is not running.
  using SourceCheck = std::function<bool()>;
  void setSourceCheck(SourceCheck unchanged);
  uint32_t packetCount() const { return packetCount_; }
  // Capture time of every packet (ns), parallel to the packet list, for real-time pacing; null
  // for none. Owned by the caller like the packets. Call only while the engine is not running.
  void setPacketTimes(const uint64_t* timesNs) { packetTimesNs_ = timesNs; }
  // Paces playback by the packet times instead of the fixed pauses: 1x is the capture's own
  // rate, playSpeed scales it by speedFactor(). Takes effect at the next frame.
  void setRealTime(bool on) { realTime_.store(on); }
  bool realTime() const { return realTime_.load(); }

  // The revolution index of the packet list (for the layout and echo code being played), or
  // null. May be replaced while the engine runs (after an echo code change); a seek uses the
  // index it finds at that moment.
  void setSeekIndex(std::shared_ptr<const tovik::RevolutionIndex> index);
  std::shared_ptr<const tovik::RevolutionIndex> seekIndex() const;
  // Asks the running engine to show revolution `revolution` (clamped to the index) next: between
  // two packets it drops the frame under construction, decodes that revolution whole, emits it
  // and plays on from there in the current direction; paused, it emits the one revolution and
  // stays paused. A seek asked for before start() is honoured at the start of the run. Without
  // an index nothing is shown. A newer request replaces one not yet honoured.
  void requestSeek(int revolution);
  bool seekPending() const { return seekTarget_.load() >= 0; }
  int echoCode() const { return echoCode_.load(std::memory_order_relaxed); }

  // Ends the run within one packet or one pause, also while it waits at the gate, and returns
  // once the run has ended; the gate is open again afterwards. Call from the thread that starts
  // the engine, never from the engine's own signals.
  void requestStop();

  // How the engine rests after a frame; the default sleeps ms milliseconds and wakes early for
  // requestStop(). Tests record the pauses instead. Set only while the engine is not running.
  using SleepFunction = std::function<void(int ms)>;
  void setSleepFunction(SleepFunction sleep);

 signals:
  // Every emitted revolution, as a handle whose frame returns to the engine once released.
  void SendFrame(const tovik::SharedFrame& frame);
  // The same revolutions as copies; emitted only while something is connected to it.
  void SendData(LidarData lidardata);
  // true when playback reached the last packet going forward or the first going backward;
  // emitted at most once per run.
  void SendBool(bool Finsh);
  // The capture file changed on disk while it played (shortened, rewritten): the run has ended
  // at once, without SendBool, and the rest of the table cannot be trusted.
  void SendFileChanged();
  // Follows each SendFrame while a seek index is set: the index's revolution (from 0) that the
  // frame shows, the one holding the frame's first decoded block.
  void SendRevolution(int revolution);

 public slots:
  // Echo code of dual-return playback (0 both echoes, 1 strongest, 2 second).
  void ReceiveMode(int ReturnModel);

 protected:
  void run() override;

 private:
  void restFor(int ms);

  const uint8_t* const* packetList_ = nullptr;
  uint32_t packetCount_ = 0;
  std::atomic<int> echoCode_{0};
  std::atomic<bool> stopRequested_{false};
  SleepFunction sleep_;
  SourceCheck sourceUnchanged_;
  const uint64_t* packetTimesNs_ = nullptr;
  std::atomic<bool> realTime_{false};
  std::atomic<int> seekTarget_{-1};  // -1: no seek asked for
  mutable std::mutex indexMutex_;
  std::shared_ptr<const tovik::RevolutionIndex> seekIndex_;
  // Frames handed out with SendFrame come back here and are built in again.
  std::shared_ptr<tovik::SharedFramePool> framePool_ = tovik::SharedFramePool::create();
};
