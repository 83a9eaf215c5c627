// A capture file opened for Python: memory-mapped, indexed by packet and by revolution, decoded
// revolution by revolution as forward offline playback and the converter decode it.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "acquisition/capture_file.h"
#include "acquisition/geometry.h"
#include "acquisition/revolution_assembler.h"
#include "acquisition/revolution_index.h"

namespace tovik::python {

// What a reader and its iterators share; read-only once opened, so revolutions may be decoded
// from several threads at once.
struct CaptureSource {
  capture::CaptureFile file;
  RevolutionIndex index;
  OfflineAssembler::Layout layout = OfflineAssembler::Layout::Single;
  int echoCode = kDualEcho;
  int degreeMode = kDegree2;
  int accuaryMode = kResolution025;
  // A capture carries no device angles to trust: the nominal table of degreeMode, as the
  // converter uses.
  AngleTable angles{};

  // Hands the file's pages between from and to (addresses in the mapping) back to the page cache,
  // so that reading a large capture keeps the process's memory flat; the mapping reads them
  // again when they are touched.
  void releasePages(const uint8_t* from, const uint8_t* to) const;
};

class CaptureReader {
 public:
  // layout: -1 guesses it from the packets (then from the device packets, then single-return);
  // degreeMode and accuaryMode: -1 takes them from the first device packet (else 0). Raises
  // OSError (FileNotFoundError, PermissionError, IsADirectoryError) when the file cannot be read
  // and ValueError when it is not a capture or holds no point data packet; the messages are the
  // converter's.
  CaptureReader(const std::string& path, int layout, int echoCode, int degreeMode, int accuaryMode);

  size_t size() const { return source().index.size(); }
  // Revolution i (0 <= i < size()) as the tuple of revolutionArrays(); decoded from its first
  // packet through the revolution index. Raises IndexError for other i.
  pybind11::tuple revolution(size_t i) const;
  // Decoded device information packets, in file order.
  pybind11::list devicePackets() const;
  void close() { source_.reset(); }
  bool closed() const { return !source_; }

  std::string sensor() const;
  int echoCode() const { return source().echoCode; }
  int degreeMode() const { return source().degreeMode; }
  int accuaryMode() const { return source().accuaryMode; }
  std::string path() const { return source().file.path(); }
  std::string summary() const { return source().file.summary(); }
  size_t packetCount() const { return source().file.pointCount(); }
  // Seconds from the first to the last point data packet, by the capture's record times.
  double duration() const;
  // The file ends inside a record, or a record was damaged: decoding covers what it holds.
  bool incomplete() const;

  const std::shared_ptr<const CaptureSource>& shared() const;

 private:
  const CaptureSource& source() const { return *shared(); }
  std::shared_ptr<const CaptureSource> source_;
};

// Every revolution of a capture in file order, decoded as one continuous forward run: the
// converter's decoding.
class RevolutionIterator {
 public:
  explicit RevolutionIterator(std::shared_ptr<const CaptureSource> source);
  // The next revolution as revolutionArrays(), or None after the last.
  pybind11::object next();

 private:
  bool advance(LidarData* frame);

  std::shared_ptr<const CaptureSource> source_;
  OfflineAssembler assembler_;
  std::mutex mutex_;
  size_t packet_ = 0;
  int block_ = 0;
  const uint8_t* released_ = nullptr;
};

}  // namespace tovik::python
