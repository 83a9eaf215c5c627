#include "src/live_stream.h"

#include <poll.h>

#include <algorithm>
#include <chrono>

#include "acquisition/revolution_index.h"
#include "device/device_modes.h"
#include "device/setting_data.h"
#include "src/device_dict.h"
#include "src/point_arrays.h"

namespace py = pybind11;

namespace tovik::python {

namespace {

// The receive time-out: how soon a close request or a signal is seen.
constexpr int kSliceMs = 100;
// A few MB of socket buffer: the default (about 208 KB) loses packets in bursts.
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;

bool bindUdp(net::UdpSocket& s, uint16_t port) {
  if (!(s.open() && s.setReuseAddress(true) && s.bind(std::string(), port))) return false;
  s.setReceiveBufferSize(kReceiveBufferBytes);
  return s.setReceiveTimeout(kSliceMs);
}

}  // namespace

LiveStream::LiveStream(uint16_t port, int layout, const std::string& group, int echoCode,
                       int degreeMode, int accuaryMode, int devicePort)
    : layout_(layout),
      echoCode_(echoCode),
      followDegree_(degreeMode < 0),
      followResolution_(accuaryMode < 0),
      degreeMode_(degreeMode < 0 ? kDegree2 : degreeMode),
      accuaryMode_(accuaryMode < 0 ? kResolution025 : accuaryMode) {
  if (!bindUdp(data_, port)) {
    PyErr_SetString(
        PyExc_OSError,
        ("cannot listen on UDP port " + std::to_string(port) + ": " + data_.lastError()).c_str());
    throw py::error_already_set();
  }
  auto warn = [](const std::string& text) {
    py::module_::import("warnings")
        .attr("warn")(text, py::module_::import("builtins").attr("RuntimeWarning"), 2);
  };
  if (!group.empty()) {
    // As in the viewer: unicast still arrives on a socket that could not join.
    if (!data_.joinMulticast(group))
      warn("cannot join multicast group " + group + ": " + data_.lastError());
  }
  if (devicePort >= 0) {
    if (!bindUdp(device_, uint16_t(devicePort))) {
      warn("cannot listen for device packets on UDP port " + std::to_string(devicePort) + ": " +
           device_.lastError());
      device_.close();
    } else if (!group.empty()) {
      device_.joinMulticast(group);
    }
  }
}

LiveStream::~LiveStream() {
  stop_.store(true);
  std::lock_guard<std::mutex> lock(mutex_);
  closeSockets();
}

void LiveStream::closeSockets() {
  data_.close();
  device_.close();
}

void LiveStream::close() {
  stop_.store(true);
  py::gil_scoped_release nogil;
  // A pump() in another thread leaves within one slice.
  std::lock_guard<std::mutex> lock(mutex_);
  closeSockets();
}

std::string LiveStream::sensor() const {
  switch (layout_.load()) {
    case 0:
      return kSensorSingleLive;
    case 1:
      return kSensorDualLive;
    default:
      return std::string();
  }
}

void LiveStream::handleDevice(const uint8_t* image) {
  ++devicePackets_;
  const DevicePacketContents c = decodeDevicePacket(image);
  const DeviceModes modes =
      deriveDeviceModes(c.record.fpga3Version[4], c.record.fpga3Version[5] >> 4,
                        c.mac[kMacAngleSpacing], c.mac[kMacEchoMode]);
  if (followDegree_) degreeMode_.store(modes.degreeMode);
  if (followResolution_) accuaryMode_.store(modes.accuaryMode);
  std::lock_guard<std::mutex> lock(deviceMutex_);
  deviceAngles_ = c.verticalAngles;
  std::copy(image, image + kPacketSize, lastDevice_.begin());
  haveDevicePacket_ = true;
}

void LiveStream::handlePoint(const uint8_t* image) {
  if (layout_.load() < 0) {
    const LayoutGuess guess = guessLayout({image});
    // A standing motor tells nothing; such packets close no revolution either.
    if (guess == LayoutGuess::Unknown) return;
    layout_.store(guess == LayoutGuess::Dual ? 1 : 0);
  }
  ++packets_;
  std::vector<LidarData> frames;
  if (layout_.load() == 1) {
    if (!dual_) {
      dual_ = std::make_unique<LiveDualAssembler>();
      dual_->setEchoCode(echoCode_);
    }
    dual_->addPacket(image, frames);
  } else {
    if (!single_) single_ = std::make_unique<LiveSingleAssembler>();
    single_->addPacket(image, frames);
  }
  for (LidarData& f : frames) {
    ++revolutions_;
    ready_.push_back(std::move(f));
  }
}

void LiveStream::pump(int sliceMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(sliceMs);
  uint8_t image[kPacketSize];
  while (ready_.empty() && !stop_.load()) {
    const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                             end - std::chrono::steady_clock::now())
                             .count());
    if (left < 0) return;
    pollfd fds[2] = {{data_.nativeHandle(), POLLIN, 0}, {device_.nativeHandle(), POLLIN, 0}};
    const int n = ::poll(fds, device_.isOpen() ? 2 : 1, left);
    if (n < 0) return;  // a signal: the caller checks
    if (n == 0) continue;
    for (int s = 0; s < 2; ++s) {
      if (!(fds[s].revents & POLLIN)) continue;
      net::UdpSocket& socket = s == 0 ? data_ : device_;
      size_t length = 0;
      if (socket.receive(image, sizeof image, &length) != net::RecvStatus::Ok) {
        ++ignored_;
        continue;
      }
      // Only whole packets: a short one would be decoded over the previous one's bytes.
      if (length == kPacketSize && isPointPacket(image))
        handlePoint(image);
      else if (length == kPacketSize && isDevicePacket(image))
        handleDevice(image);
      else
        ++ignored_;
    }
  }
}

py::object LiveStream::next(double timeoutSeconds) {
  const auto start = std::chrono::steady_clock::now();
  while (true) {
    LidarData frame;
    bool got = false;
    {
      py::gil_scoped_release nogil;
      std::lock_guard<std::mutex> lock(mutex_);
      int slice = kSliceMs;
      if (timeoutSeconds >= 0) {
        const double left =
            timeoutSeconds -
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        slice = std::max(0, std::min(kSliceMs, int(left * 1000)));
      }
      if (!stop_.load()) pump(slice);
      if (!ready_.empty()) {
        frame = std::move(ready_.front());
        ready_.pop_front();
        got = true;
      }
    }
    if (got) {
      AngleTable device;
      {
        std::lock_guard<std::mutex> lock(deviceMutex_);
        device = deviceAngles_;
      }
      // The viewer's rule: the device's angles unless one strays more than 1.5 degrees.
      return revolutionArrays(frame, chooseVerticalAngles(degreeMode_.load(), device),
                              accuaryMode_.load());
    }
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    if (stop_.load()) return py::none();
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (timeoutSeconds >= 0 && waited >= timeoutSeconds) return py::none();
  }
}

py::object LiveStream::lastDevicePacket() const {
  std::array<uint8_t, kPacketSize> copy;
  {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (!haveDevicePacket_) return py::none();
    copy = lastDevice_;
  }
  return devicePacketDict(copy.data());
}

py::dict LiveStream::counters() const {
  py::dict d;
  d["packets"] = packets_.load();
  d["revolutions"] = revolutions_.load();
  d["device_packets"] = devicePackets_.load();
  d["ignored"] = ignored_.load();
  return d;
}

}  // namespace tovik::python
