// The conversion itself: point data packets in, revolutions out as CSV rows or counts.
//
// With threads = 0 one thread decodes, formats and hands rows to the sink, the way forward
// offline playback decodes. With threads = N >= 1 the work is a pipeline:
//   - a cutter thread walks the packets and finds where each revolution closes from the block
//     azimuths alone (RevolutionCutter, revolution_assembler.h);
//   - N workers each decode a whole revolution with their own assembler and format its rows into
//     a large buffer (or count them);
//   - the calling thread writes the buffers in revolution order.
// A fixed number of revolutions is in flight (2 N + 2), so memory stays bounded. Both ways give
// the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "acquisition/csv_writer.h"
#include "acquisition/geometry.h"
#include "acquisition/revolution_assembler.h"

namespace tovik::convert {

// Writes one revolution to a place of its own (a file per revolution) instead of CSV rows. Called
// on the worker threads, for several revolutions at once, in any order; returns false when the
// revolution could not be written (the callee keeps why).
using FrameFn = std::function<bool(const LidarData& frame, int64_t freamId)>;

struct Settings {
  OfflineAssembler::Layout layout = OfflineAssembler::Layout::Single;
  int echoCode = kDualEcho;
  // Revolutions before this one (0-based) are found by the close rule alone and not decoded; the
  // converted ones keep their FreamIDs from the start of the list (firstRevolution + 1, ...).
  int64_t firstRevolution = 0;
  int64_t maxFrames = -1;  // -1: every closed revolution from firstRevolution on
  // Count rows instead of formatting them: the close rule and the point azimuths only, on the
  // calling thread (RevolutionCounter); the counts are those of decoding.
  bool statsOnly = false;
  FrameFn frameOutput;  // set: each revolution goes here, and the sink receives nothing
  AngleTable angles{};  // vertical angles of the rows
  csv::RowOptions rows;
  int threads = 0;  // workers; 0 does everything on the calling thread
};

struct Counts {
  uint64_t packets = 0;      // point data packets walked
  uint64_t revolutions = 0;  // closed revolutions converted
  uint64_t points = 0;       // points of those revolutions, all channels
  uint64_t rows = 0;         // points the azimuth and channel filters let through
  uint64_t capped = 0;       // revolutions dropped at kMaxRevolutionBlocks without closing
};

// Receives rows in order; returns false when they could not be written (the sink keeps why).
using Sink = std::function<bool(const std::string& bytes)>;
// Packets walked so far and the total; called from one thread at a time, at most once a packet.
using ProgressFn = std::function<void(uint64_t done, uint64_t total)>;

enum class Outcome {
  Done,
  WriteFailed,  // the sink returned false; what was converted before went to it
  CutMismatch,  // a worker's revolution did not close where the cutter said: a fault of ours
};

// Converts packets (each kPacketSize bytes, file order). Every thread it started has ended when
// it returns, whichever way.
Outcome convert(const std::vector<const uint8_t*>& packets, const Settings& settings,
                const Sink& sink, const ProgressFn& progress, Counts* counts);

}  // namespace tovik::convert
