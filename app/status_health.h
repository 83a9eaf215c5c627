// The status bar's health read-out: rates and drop counts of the running point receiver,
// refreshed once a second from its counters.
#pragma once

#include <QString>

#include "acquisition/receiver_stats.h"

namespace tovik {

class HealthReadout {
 public:
  // Forgets the baseline: the next sample starts a new one (another receiver, or a restart).
  void reset() { haveBaseline_ = false; }

  // Takes the counters of the running receiver, sampled elapsedS seconds after the previous
  // sample, and returns the text: packets and revolutions per second over that interval, points
  // in the last revolution, and the receiver's lifetime counts of dropped datagrams. Rates read
  // "-" until a baseline exists or when elapsedS is not positive.
  QString sample(const ReceiverCounters& now, double elapsedS);

  // The text while no point receiver runs; devicePackets counts accepted device packets.
  static QString idleText(uint64_t devicePackets);

 private:
  bool haveBaseline_ = false;
  ReceiverCounters last_;
};

}  // namespace tovik
