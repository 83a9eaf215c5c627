// The status bar's health read-out: rates and drop counts of the running point receiver, or the
// pace and position of playback, refreshed once a second from their counters.
#pragma once

#include <QString>

#include "acquisition/receiver_stats.h"

namespace tovik {

// What playback has delivered to the window in its current run.
struct PlaybackCounters {
  uint64_t revolutions = 0;
  // Points of the delivered revolutions, and how many of them one packet carries (384 for
  // single return and both echoes, 192 for one echo of dual return): packets = points / that.
  uint64_t points = 0;
  int pointsPerPacket = 384;
  int frame = 0;  // the frame counter and the capture's number of frames
  int frames = 0;
};

class HealthReadout {
 public:
  // Forgets the baseline: the next sample starts a new one (another receiver, or a restart).
  void reset() { haveBaseline_ = false; }

  // Takes the counters of the running receiver, sampled elapsedS seconds after the previous
  // sample, and returns the text: packets and revolutions per second over that interval, points
  // in the last revolution, and the receiver's lifetime counts of dropped datagrams. Rates read
  // "-" until a baseline exists or when elapsedS is not positive.
  QString sample(const ReceiverCounters& now, double elapsedS);

  // The text while playback runs: revolutions per second over the interval, packets played in
  // this run, and the frame counter (the position in the capture).
  QString samplePlayback(const PlaybackCounters& now, double elapsedS);

  // The text while no point receiver runs; devicePackets counts accepted device packets.
  static QString idleText(uint64_t devicePackets);

 private:
  bool haveBaseline_ = false;
  ReceiverCounters last_;
  uint64_t lastPlaybackRevolutions_ = 0;
};

}  // namespace tovik
