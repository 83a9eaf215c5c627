#include "tools/convert/convert_pipeline.h"

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "acquisition/point_packet.h"
#include "acquisition/revolution_index.h"

namespace tovik::convert {

namespace {

// The serial path hands rows to the sink in chunks of at least this size.
constexpr size_t kFlushBytes = 1 << 20;

// Counts a revolution and formats or writes it; false when the frame output failed.
bool addFrame(const LidarData& frame, const Settings& s, int64_t freamId, std::string* text,
              Counts* counts) {
  counts->points += frame.totalPoints();
  if (s.frameOutput) {
    counts->rows += csv::countRows(frame, s.rows);
    return s.frameOutput(frame, freamId);
  }
  counts->rows += csv::appendRevolution(*text, frame, int(freamId), s.angles, s.rows);
  return true;
}

bool enoughFrames(const Settings& s, int64_t converted) {
  return s.maxFrames > 0 && converted >= s.maxFrames;
}

// Counts only: the close rule and the point azimuths, no frame is built.
void countOnly(const std::vector<const uint8_t*>& packets, const Settings& s,
               const ProgressFn& progress, Counts* counts) {
  RevolutionCounter counter(s.layout, s.echoCode, s.rows.channels, s.rows.angleMin,
                            s.rows.angleMax);
  int64_t closes = 0;
  bool enough = false;
  size_t i = 0;
  for (; i < packets.size() && !enough; ++i) {
    if (progress && (i & 4095) == 0) progress(i, packets.size());
    const uint8_t* p = packets[i];
    if (!isPointPacket(p)) continue;
    for (int k = 0; k < kBlocksPerPacket; ++k) {
      const RevolutionCutter::Event e = counter.addBlock(k, rawBlockAzimuth(p, k));
      if (e == RevolutionCutter::Event::None) continue;
      if (e == RevolutionCutter::Event::Dropped) {
        ++counts->capped;
        continue;
      }
      if (++closes <= s.firstRevolution) continue;
      ++counts->revolutions;
      counts->points += counter.points();
      counts->rows += counter.rows();
      if (enoughFrames(s, int64_t(counts->revolutions))) {
        enough = true;
        break;
      }
    }
  }
  counts->packets = i;
}

// From a revolution other than the first: the index finds where it starts, and only the
// revolutions converted are decoded.
bool convertSerialFrom(const std::vector<const uint8_t*>& packets, const Settings& s,
                       const Sink& sink, const ProgressFn& progress, Counts* counts) {
  const RevolutionIndex index = RevolutionIndex::build(packets, s.layout, s.echoCode);
  OfflineAssembler assembler(s.layout);
  assembler.setEchoCode(s.echoCode);
  std::string buffer;
  LidarData frame;
  size_t i = size_t(s.firstRevolution);
  for (; i < index.size() && !enoughFrames(s, int64_t(counts->revolutions)); ++i) {
    if (!decodeRevolution(assembler, packets, index, i, &frame)) return false;
    ++counts->revolutions;
    if (!addFrame(frame, s, int64_t(i) + 1, &buffer, counts)) return false;
    assembler.recycle(std::move(frame));
    if (buffer.size() >= kFlushBytes) {
      if (!sink(buffer)) return false;
      buffer.clear();
    }
    if (progress) progress(index.closePacket(i), packets.size());
  }
  // Walked as far as the last revolution converted, or through the list.
  const bool stopped = counts->revolutions > 0 && enoughFrames(s, int64_t(counts->revolutions));
  counts->packets = stopped ? index.closePacket(i - 1) + 1 : packets.size();
  counts->capped = stopped ? index.droppedBefore(i - 1) : index.dropped();
  return buffer.empty() || sink(buffer);
}

bool convertSerial(const std::vector<const uint8_t*>& packets, const Settings& s, const Sink& sink,
                   const ProgressFn& progress, Counts* counts) {
  if (s.firstRevolution > 0) return convertSerialFrom(packets, s, sink, progress, counts);
  OfflineAssembler assembler(s.layout);
  assembler.setEchoCode(s.echoCode);
  std::string buffer;
  buffer.reserve(kFlushBytes + (4 << 20));
  std::vector<LidarData> frames;
  bool enough = false;
  for (size_t i = 0; i < packets.size() && !enough; ++i) {
    frames.clear();
    assembler.addPacket(packets[i], +1, frames);
    ++counts->packets;
    for (LidarData& frame : frames) {
      if (!addFrame(frame, s, int64_t(++counts->revolutions), &buffer, counts)) return false;
      assembler.recycle(std::move(frame));
      if (enoughFrames(s, int64_t(counts->revolutions))) {
        enough = true;
        break;
      }
    }
    if (buffer.size() >= kFlushBytes) {
      if (!sink(buffer)) return false;
      buffer.clear();
    }
    if (progress && (i & 255) == 0) progress(i, packets.size());
  }
  counts->capped = assembler.cappedRevolutions();
  return buffer.empty() || sink(buffer);
}

// One revolution in flight: where it lies in the packet list, then its rows and counts.
struct Job {
  enum class State { Free, Cut, Busy, Done };
  State state = State::Free;
  int64_t freamId = 0;
  size_t firstPacket = 0, lastPacket = 0;
  int firstBlock = 0, lastBlock = 0;
  std::string text;
  Counts counts;
  bool mismatch = false;  // the worker's assembler did not close where the cutter did
  bool failed = false;    // the frame output could not write it
};

class Pipeline {
 public:
  Pipeline(const std::vector<const uint8_t*>& packets, const Settings& s, const Sink& sink,
           const ProgressFn& progress)
      : packets_(packets),
        s_(s),
        sink_(sink),
        progress_(progress),
        jobs_(size_t(2 * s.threads + 2)) {}

  // Returns false, having written nothing, when the threads cannot be started.
  bool start() {
    try {
      threads_.emplace_back([this] { cut(); });
      for (int w = 0; w < s_.threads; ++w) threads_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      stopAll();
      for (std::thread& t : threads_) t.join();
      threads_.clear();
      return false;
    }
    return true;
  }

  Outcome run(Counts* counts) {
    const bool ok = write(counts);
    if (!ok) stopAll();
    for (std::thread& t : threads_) t.join();
    counts->packets = packetsWalked_;
    counts->capped = capped_;
    return ok ? Outcome::Done : mismatch_ ? Outcome::CutMismatch : Outcome::WriteFailed;
  }

 private:
  Job& job(int64_t seq) { return jobs_[size_t(seq) % jobs_.size()]; }

  void stopAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }

  // Finds the revolutions and hands each to a free job, in order.
  void cut() {
    RevolutionCutter cutter(s_.layout, s_.echoCode);
    size_t firstPacket = 0;
    int firstBlock = 0;
    int64_t cutCount = 0;  // revolutions handed to the workers
    int64_t closes = 0;    // revolutions closed since the start of the list
    bool enough = false;
    size_t i = 0;
    for (; i < packets_.size() && !enough; ++i) {
      const uint8_t* p = packets_[i];
      if (isPointPacket(p)) {
        for (int k = 0; k < kBlocksPerPacket; ++k) {
          const RevolutionCutter::Event e = cutter.addBlock(k, rawBlockAzimuth(p, k));
          if (e == RevolutionCutter::Event::None) continue;
          if (e == RevolutionCutter::Event::Closed && closes < s_.firstRevolution) {
            ++closes;  // before the range: found, not decoded
          } else if (e == RevolutionCutter::Event::Closed) {
            ++closes;
            std::unique_lock<std::mutex> lock(mutex_);
            Job& j = job(cutCount);
            changed_.wait(lock, [&] { return stop_ || j.state == Job::State::Free; });
            if (stop_) return;
            j.state = Job::State::Cut;
            j.freamId = closes;
            j.firstPacket = firstPacket;
            j.firstBlock = firstBlock;
            j.lastPacket = i;
            j.lastBlock = k;
            ++cutCount;
            cut_ = cutCount;
            changed_.notify_all();
          } else {
            ++capped_;
          }
          firstPacket = k + 1 < kBlocksPerPacket ? i : i + 1;
          firstBlock = (k + 1) % kBlocksPerPacket;
          if (enoughFrames(s_, cutCount)) {
            enough = true;
            break;
          }
        }
      }
      if (progress_ && (i & 255) == 0) progress_(i, packets_.size());
      if ((i & 255) == 0 && stopRequested()) return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    packetsWalked_ = i;
    cutDone_ = true;
    changed_.notify_all();
  }

  bool stopRequested() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
  }

  // Takes the next cut revolution, decodes it with this worker's assembler and formats its rows.
  void work() {
    OfflineAssembler assembler(s_.layout);
    assembler.setEchoCode(s_.echoCode);
    std::vector<LidarData> frames;
    while (true) {
      Job* j = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || taken_ < cut_ || cutDone_; });
        if (stop_ || taken_ >= cut_) return;
        j = &job(taken_++);
        j->state = Job::State::Busy;
      }
      j->counts = Counts();
      j->text.clear();
      j->failed = false;
      j->mismatch = !decode(assembler, *j, frames);
      // The next revolution starts from a reset assembler, whatever happened here.
      if (j->mismatch) assembler.reset();
      std::lock_guard<std::mutex> lock(mutex_);
      j->state = Job::State::Done;
      changed_.notify_all();
    }
  }

  // Decodes job j; true when its revolution closed exactly where it was cut.
  bool decode(OfflineAssembler& assembler, Job& j, std::vector<LidarData>& frames) {
    for (size_t p = j.firstPacket; p <= j.lastPacket; ++p) {
      if (p < j.lastPacket && (p > j.firstPacket || j.firstBlock == 0)) {
        // A whole packet inside the revolution closes nothing.
        frames.clear();
        if (assembler.addPacket(packets_[p], +1, frames) == 0) continue;
        for (LidarData& f : frames) assembler.recycle(std::move(f));
        return false;
      }
      if (!assembler.beginPacket(packets_[p])) continue;
      const int last = p == j.lastPacket ? j.lastBlock : kBlocksPerPacket - 1;
      for (int k = p == j.firstPacket ? j.firstBlock : 0; k <= last; ++k) {
        if (!assembler.addBlock(k, +1)) continue;
        LidarData frame = assembler.takeFrame();
        const bool there = p == j.lastPacket && k == last;
        if (there) j.failed = !addFrame(frame, s_, j.freamId, &j.text, &j.counts);
        assembler.recycle(std::move(frame));
        return there;
      }
    }
    return false;
  }

  // Writes the revolutions in order as they are done, until the cutter has no more.
  bool write(Counts* counts) {  // false: the sink failed, or a cut mismatch
    for (int64_t seq = 0;; ++seq) {
      Job* j = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
          return stop_ || job(seq).state == Job::State::Done || (cutDone_ && seq >= cut_);
        });
        if (stop_) return false;
        if (job(seq).state != Job::State::Done) return true;
        j = &job(seq);
      }
      // The cutter and the assembler follow one rule; a revolution that closed elsewhere would
      // be a fault of this program, never of the capture.
      if (j->mismatch) {
        mismatch_ = true;
        return false;
      }
      if (j->failed) return false;
      if (!s_.frameOutput && !sink_(j->text)) return false;
      ++counts->revolutions;
      counts->points += j->counts.points;
      counts->rows += j->counts.rows;
      std::lock_guard<std::mutex> lock(mutex_);
      j->state = Job::State::Free;
      changed_.notify_all();
    }
  }

  const std::vector<const uint8_t*>& packets_;
  const Settings& s_;
  const Sink& sink_;
  const ProgressFn& progress_;
  std::vector<Job> jobs_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool cutDone_ = false;
  int64_t cut_ = 0;    // revolutions cut so far
  int64_t taken_ = 0;  // revolutions taken by workers
  size_t packetsWalked_ = 0;
  uint64_t capped_ = 0;
  bool mismatch_ = false;
};

}  // namespace

Outcome convert(const std::vector<const uint8_t*>& packets, const Settings& settings,
                const Sink& sink, const ProgressFn& progress, Counts* counts) {
  *counts = Counts();
  if (settings.statsOnly) {
    countOnly(packets, settings, progress, counts);
    return Outcome::Done;
  }
  if (settings.threads <= 0) {
    return convertSerial(packets, settings, sink, progress, counts) ? Outcome::Done
                                                                    : Outcome::WriteFailed;
  }
  Pipeline pipeline(packets, settings, sink, progress);
  if (pipeline.start()) return pipeline.run(counts);
  // No threads to be had: the same conversion on this one.
  *counts = Counts();
  return convertSerial(packets, settings, sink, progress, counts) ? Outcome::Done
                                                                  : Outcome::WriteFailed;
}

}  // namespace tovik::convert
