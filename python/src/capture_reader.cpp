#include "src/capture_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "acquisition/capture_description.h"
#include "acquisition/point_packet.h"
#include "src/device_dict.h"
#include "src/point_arrays.h"

namespace py = pybind11;

namespace tovik::python {

namespace {

// Pages are handed back in steps of this size at least.
constexpr size_t kReleaseStep = 8u << 20;

const uint8_t* pageFloor(const uint8_t* p) {
  static const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  return reinterpret_cast<const uint8_t*>(reinterpret_cast<uintptr_t>(p) & ~(page - 1));
}

// Raises the OSError subclass errno selects (FileNotFoundError, PermissionError, ...), with the
// converter's message as its text and errno set.
[[noreturn]] void raiseOsError(int error, const std::string& message) {
  py::object type = py::module_::import("builtins").attr("OSError");
  // OSError(errno, text) picks the subclass; the message is set alone so that str() shows it
  // unchanged.
  py::object probe = type(error, message);
  py::object exc = probe.get_type()(message);
  exc.attr("errno") = error;
  PyErr_SetObject(exc.get_type().ptr(), exc.ptr());
  throw py::error_already_set();
}

// Why a capture could not be opened: the file system's reason when there is one.
int openErrno(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat info;
  const bool dir = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  ::close(fd);
  return dir ? EISDIR : 0;
}

}  // namespace

void CaptureSource::releasePages(const uint8_t* from, const uint8_t* to) const {
  const uint8_t* begin = pageFloor(from);
  const uint8_t* end = pageFloor(to);
  if (end > begin) madvise(const_cast<uint8_t*>(begin), size_t(end - begin), MADV_DONTNEED);
}

CaptureReader::CaptureReader(const std::string& path, int layout, int echoCode, int degreeMode,
                             int accuaryMode) {
  auto source = std::make_shared<CaptureSource>();
  bool opened;
  {
    py::gil_scoped_release nogil;
    opened = source->file.open(path);
  }
  if (!opened) {
    const int error = openErrno(path);
    if (error != 0) raiseOsError(error, source->file.errorString());
    throw py::value_error(source->file.errorString());
  }
  const capture::CaptureFile& file = source->file;
  if (file.pointCount() == 0) {
    throw py::value_error("'" + path + "' holds no point data packets (" + file.summary() + ")");
  }

  const std::vector<const uint8_t*>& packets = file.index().pointPackets;
  // The first device packet tells what the capture's device was set to.
  const CaptureDescription device = describeCapture(file.index().devicePackets);
  if (layout < 0) {
    // The packets themselves first: they are what gets decoded.
    switch (guessLayout(packets)) {
      case LayoutGuess::Single:
        layout = 0;
        break;
      case LayoutGuess::Dual:
        layout = 1;
        break;
      case LayoutGuess::Unknown:
        layout = device.fromDevice && device.dualReturn() ? 1 : 0;
        break;
    }
  }
  source->layout = layout == 1 ? OfflineAssembler::Layout::Dual : OfflineAssembler::Layout::Single;
  source->echoCode = echoCode;
  source->degreeMode = degreeMode >= 0     ? degreeMode
                       : device.fromDevice ? device.degreeMode
                                           : kDegree2;
  source->accuaryMode = accuaryMode >= 0 ? accuaryMode : device.fromDevice ? device.accuaryMode : 0;
  // The device's own angles under the viewer's 1.5 degree rule, as the converter takes them.
  source->angles = chooseVerticalAngles(source->degreeMode,
                                        device.fromDevice ? device.verticalAngles : AngleTable{});
  {
    py::gil_scoped_release nogil;
    source->index = RevolutionIndex::build(packets, source->layout, source->echoCode);
    // Indexing read the whole file; none of it is needed until a revolution is decoded.
    source->releasePages(packets.front(), packets.back());
  }
  source_ = std::move(source);
}

const std::shared_ptr<const CaptureSource>& CaptureReader::shared() const {
  if (!source_) throw py::value_error("I/O operation on a closed capture");
  return source_;
}

std::string CaptureReader::sensor() const {
  return source().layout == OfflineAssembler::Layout::Dual ? kSensorDualOffline
                                                           : kSensorSingleOffline;
}

double CaptureReader::duration() const {
  const capture::Index& index = source().file.index();
  return double(index.lastPointTimeNs - index.firstPointTimeNs) / 1e9;
}

bool CaptureReader::incomplete() const {
  const capture::Index& index = source().file.index();
  return index.truncated || index.damaged;
}

py::tuple CaptureReader::revolution(size_t i) const {
  const std::shared_ptr<const CaptureSource> src = shared();
  if (i >= src->index.size()) throw py::index_error("revolution index out of range");
  LidarData frame;
  bool ok;
  {
    py::gil_scoped_release nogil;
    OfflineAssembler assembler(src->layout);
    assembler.setEchoCode(src->echoCode);
    ok = decodeRevolution(assembler, src->file.index().pointPackets, src->index, i, &frame);
  }
  if (!ok) throw std::runtime_error("revolution " + std::to_string(i) + " did not close");
  return revolutionArrays(frame, src->angles, src->accuaryMode);
}

py::list CaptureReader::devicePackets() const {
  py::list out;
  for (const uint8_t* p : source().file.index().devicePackets) out.append(devicePacketDict(p));
  return out;
}

RevolutionIterator::RevolutionIterator(std::shared_ptr<const CaptureSource> source)
    : source_(std::move(source)), assembler_(source_->layout) {
  assembler_.setEchoCode(source_->echoCode);
  const auto& packets = source_->file.index().pointPackets;
  if (!packets.empty()) released_ = packets.front();
}

bool RevolutionIterator::advance(LidarData* frame) {
  const std::vector<const uint8_t*>& packets = source_->file.index().pointPackets;
  while (packet_ < packets.size()) {
    if (block_ == 0) {
      if (packets[packet_] - released_ >= ptrdiff_t(kReleaseStep)) {
        source_->releasePages(released_, packets[packet_]);
        released_ = pageFloor(packets[packet_]);
      }
      if (!assembler_.beginPacket(packets[packet_])) {
        ++packet_;
        continue;
      }
    }
    const int k = block_;
    if (++block_ == kBlocksPerPacket) {
      block_ = 0;
      ++packet_;
    }
    if (assembler_.addBlock(k, +1)) {
      *frame = assembler_.takeFrame();
      return true;
    }
  }
  if (released_) {
    source_->releasePages(released_, packets.back() + kPacketSize);
    released_ = nullptr;
  }
  return false;
}

py::object RevolutionIterator::next() {
  LidarData frame;
  bool got;
  {
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lock(mutex_);
    got = advance(&frame);
  }
  if (!got) return py::none();
  py::tuple arrays = revolutionArrays(frame, source_->angles, source_->accuaryMode);
  // The arrays are copies: the next revolution is built in this one's lists.
  std::lock_guard<std::mutex> lock(mutex_);
  assembler_.recycle(std::move(frame));
  return std::move(arrays);
}

}  // namespace tovik::python
