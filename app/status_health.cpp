#include "app/status_health.h"

namespace tovik {

namespace {

// Counters only grow while one receiver object lives; a smaller value means another source.
uint64_t delta(uint64_t now, uint64_t before) { return now >= before ? now - before : 0; }

}  // namespace

QString HealthReadout::sample(const ReceiverCounters& now, double elapsedS) {
  QString packetRate = QStringLiteral("-");
  QString revolutionRate = QStringLiteral("-");
  if (haveBaseline_ && elapsedS > 0) {
    packetRate = QString::number(delta(now.packets, last_.packets) / elapsedS, 'f', 0);
    revolutionRate = QString::number(delta(now.revolutions, last_.revolutions) / elapsedS, 'f', 1);
  }
  last_ = now;
  haveBaseline_ = true;
  return QStringLiteral(
             "%1 packets/s   %2 rev/s   %3 points   short %4   oversized %5   ignored %6")
             .arg(packetRate, revolutionRate)
             .arg(now.lastRevolutionPoints)
             .arg(now.shortDropped)
             .arg(now.oversized)
             .arg(now.ignored) +
         (now.receiveErrors > 0 ? QStringLiteral("   receive errors %1").arg(now.receiveErrors)
                                : QString()) +
         (now.cappedRevolutions > 0
              ? QStringLiteral("   unclosed revolutions dropped %1").arg(now.cappedRevolutions)
              : QString());
}

QString HealthReadout::samplePlayback(const PlaybackCounters& now, double elapsedS) {
  QString revolutionRate = QStringLiteral("-");
  if (haveBaseline_ && elapsedS > 0)
    revolutionRate =
        QString::number(delta(now.revolutions, lastPlaybackRevolutions_) / elapsedS, 'f', 1);
  lastPlaybackRevolutions_ = now.revolutions;
  haveBaseline_ = true;
  const uint64_t packets = now.pointsPerPacket > 0 ? now.points / uint64_t(now.pointsPerPacket) : 0;
  return QStringLiteral("Playback: %1 rev/s   %2 packets played   frame %3 of %4")
      .arg(revolutionRate)
      .arg(packets)
      .arg(now.frame)
      .arg(now.frames);
}

QString HealthReadout::idleText(uint64_t devicePackets) {
  return QStringLiteral("No point data   device packets %1").arg(devicePackets);
}

}  // namespace tovik
