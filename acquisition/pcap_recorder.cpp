#include "acquisition/pcap_recorder.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bitset>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tovik::capture {

namespace {

// Read time-out of the capture handle: the longest a captured frame waits to be written.
constexpr int kReadTimeoutMs = 100;

}  // namespace

struct PcapRecorder::Session {
  pcap_t* handle = nullptr;
  pcap_dumper_t* dumper = nullptr;
  std::atomic<uint64_t>* captured = nullptr;
  // Bytes of the file known to be on disk: the header and every record flushed so far.
  int64_t flushedBytes = 0;
  bool writeFailed = false;
  int writeErrno = 0;
};

namespace {

// Size of a record's header in a classic pcap file (32-bit seconds and microseconds, captured
// and original length).
constexpr int64_t kRecordHeaderBytes = 16;

// After a failed write: drops what the library still buffers and cuts the file back to its last
// whole record, so that closing it writes nothing more and a reader finds no torn record.
void cutBackToWholeRecords(PcapRecorder::Session& s) {
  FILE* file = pcap_dump_file(s.dumper);
  __fpurge(file);
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > s.flushedBytes)
    (void)ftruncate(fileno(file), s.flushedBytes);
}

// The kernel's hardware type of a network interface, -1 when it has none (pseudo-devices).
int readHardwareType(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return -1;
  std::ifstream in("/sys/class/net/" + name + "/type");
  int type = -1;
  if (!(in >> type)) return -1;
  return type;
}

}  // namespace

bool canCarryLidarTraffic(const CaptureInterface& i) {
  return (i.hardwareType == kHardwareEthernet || i.loopback) && i.up && i.hasIpv4;
}

std::vector<CaptureInterface> lidarCaptureInterfaces(const std::vector<CaptureInterface>& all) {
  std::vector<CaptureInterface> out;
  for (const CaptureInterface& i : all)
    if (canCarryLidarTraffic(i)) out.push_back(i);
  return out;
}

std::string recordFilterText(int dataPort, int devicePort) {
  if (devicePort <= 0 || devicePort == dataPort) return "port " + std::to_string(dataPort);
  return "udp port " + std::to_string(dataPort) + " or udp port " + std::to_string(devicePort);
}

bool listCaptureInterfaces(std::vector<CaptureInterface>* out, std::string* error) {
  out->clear();
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* all = nullptr;
  if (pcap_findalldevs(&all, errbuf) != 0) {
    *error = errbuf;
    return false;
  }
  for (pcap_if_t* d = all; d != nullptr; d = d->next) {
    CaptureInterface i;
    i.name = d->name != nullptr ? d->name : "";
    i.description = d->description != nullptr ? d->description : "";
    i.loopback = (d->flags & PCAP_IF_LOOPBACK) != 0;
    i.up = (d->flags & PCAP_IF_UP) != 0;
    for (pcap_addr_t* a = d->addresses; a != nullptr; a = a->next)
      if (a->addr != nullptr && a->addr->sa_family == AF_INET) i.hasIpv4 = true;
    i.hardwareType = readHardwareType(i.name);
    out->push_back(std::move(i));
  }
  pcap_freealldevs(all);
  return true;
}

std::string routeInterfaceFor(const std::string& ipv4, const std::string& routeTable) {
  in_addr parsed{};
  if (inet_pton(AF_INET, ipv4.c_str(), &parsed) != 1) return {};
  // s_addr and the table's hexadecimal words are both the network-order bytes read as a host
  // integer, so they compare directly.
  const uint32_t address = parsed.s_addr;
  if ((ntohl(address) >> 24) == 127) return "lo";

  std::istringstream lines(routeTable);
  std::string line;
  std::getline(lines, line);  // column titles
  std::string best;
  int bestBits = -1;
  long bestMetric = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string iface, dest, gateway, flags, refCnt, use, metric, mask;
    if (!(fields >> iface >> dest >> gateway >> flags >> refCnt >> use >> metric >> mask)) continue;
    char* end = nullptr;
    const unsigned long flagBits = std::strtoul(flags.c_str(), &end, 16);
    if (*end != '\0' || (flagBits & 0x1) == 0) continue;  // RTF_UP
    const unsigned long d = std::strtoul(dest.c_str(), &end, 16);
    if (*end != '\0') continue;
    const unsigned long m = std::strtoul(mask.c_str(), &end, 16);
    if (*end != '\0') continue;
    const long metricValue = std::strtol(metric.c_str(), &end, 10);
    if ((address & uint32_t(m)) != uint32_t(d)) continue;
    const int bits = int(std::bitset<32>(m).count());
    if (bits > bestBits || (bits == bestBits && metricValue < bestMetric)) {
      best = iface;
      bestBits = bits;
      bestMetric = metricValue;
    }
  }
  return best;
}

int defaultCaptureInterface(const std::vector<CaptureInterface>& interfaces,
                            const std::string& routeInterface) {
  for (size_t i = 0; i < interfaces.size(); ++i) {
    const std::string& d = interfaces[i].description;
    if (interfaces[i].hasIpv4 && !d.empty() && std::strchr("RIBA", d[0]) != nullptr) return int(i);
  }
  if (!routeInterface.empty())
    for (size_t i = 0; i < interfaces.size(); ++i)
      if (interfaces[i].name == routeInterface) return int(i);
  return interfaces.empty() ? -1 : 0;
}

PcapRecorder::PcapRecorder() = default;

PcapRecorder::~PcapRecorder() { stop(); }

RecordError PcapRecorder::error() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return error_;
}

std::string PcapRecorder::errorText() const {
  std::lock_guard<std::mutex> lock(errorMutex_);
  return errorText_;
}

void PcapRecorder::setError(RecordError error, const std::string& text) {
  std::lock_guard<std::mutex> lock(errorMutex_);
  error_ = error;
  errorText_ = text;
}

bool PcapRecorder::fail(RecordError error, const std::string& text) {
  setError(error, text);
  return false;
}

bool PcapRecorder::start(const RecordSettings& settings) {
  if (running_.load(std::memory_order_acquire)) {
    return fail(RecordError::Busy, "a recording is already running");
  }
  // A capture thread that ended on its own (read error) has released everything already.
  if (thread_.joinable()) thread_.join();
  session_.reset();
  setError(RecordError::None, {});
  captured_.store(0, std::memory_order_relaxed);
  dropped_.store(0, std::memory_order_relaxed);
  stopRequested_.store(false, std::memory_order_relaxed);
  settings_ = settings;

  char errbuf[PCAP_ERRBUF_SIZE] = {};
  const char* name = settings.interfaceName.c_str();
  pcap_t* handle = pcap_create(name, errbuf);
  if (handle == nullptr) return fail(RecordError::Interface, errbuf);
  auto closeWith = [&](RecordError error, const std::string& text) {
    pcap_close(handle);
    return fail(error, text);
  };
  pcap_set_snaplen(handle, settings.snaplen);
  pcap_set_promisc(handle, settings.promiscuous ? 1 : 0);
  // Frames reach the file at most one read time-out after they arrive; a stop request wakes
  // a waiting read through pcap_breakloop.
  pcap_set_immediate_mode(handle, settings.immediate ? 1 : 0);
  pcap_set_timeout(handle, kReadTimeoutMs);
  if (settings.bufferBytes > 0) pcap_set_buffer_size(handle, settings.bufferBytes);
  const int activated = pcap_activate(handle);
  if (activated < 0) {
    std::string text = settings.interfaceName + ": " + pcap_statustostr(activated);
    const std::string detail = pcap_geterr(handle);
    if (!detail.empty()) text += " (" + detail + ")";
    RecordError kind = RecordError::Interface;
    if (activated == PCAP_ERROR_PERM_DENIED) kind = RecordError::NoPermission;
    if (activated == PCAP_ERROR_NO_SUCH_DEVICE) kind = RecordError::NoSuchInterface;
    return closeWith(kind, text);
  }

  bpf_u_int32 net = 0;
  bpf_u_int32 mask = 0;
  if (pcap_lookupnet(name, &net, &mask, errbuf) != 0) mask = PCAP_NETMASK_UNKNOWN;
  const std::string filter = recordFilterText(settings.port, settings.devicePort);
  bpf_program program{};
  if (pcap_compile(handle, &program, filter.c_str(), 0, mask) != 0) {
    return closeWith(RecordError::Filter,
                     "filter \"" + filter + "\": " + std::string(pcap_geterr(handle)));
  }
  const int installed = pcap_setfilter(handle, &program);
  pcap_freecode(&program);
  if (installed != 0) {
    return closeWith(RecordError::Filter,
                     "filter \"" + filter + "\": " + std::string(pcap_geterr(handle)));
  }

  struct stat before;
  const bool existed = ::stat(settings.filePath.c_str(), &before) == 0;
  pcap_dumper_t* dumper = pcap_dump_open(handle, settings.filePath.c_str());
  if (dumper == nullptr) return closeWith(RecordError::File, pcap_geterr(handle));
  // The header is on disk before the first frame: an empty recording is still a valid file. A
  // full disk shows here first.
  errno = 0;
  if (pcap_dump_flush(dumper) != 0) {
    const int error = errno != 0 ? errno : EIO;
    __fpurge(pcap_dump_file(dumper));
    pcap_dump_close(dumper);
    // Leave nothing behind that this call created; a device such as /dev/full stays.
    struct stat after;
    if (!existed && ::stat(settings.filePath.c_str(), &after) == 0 && S_ISREG(after.st_mode))
      ::unlink(settings.filePath.c_str());
    return closeWith(RecordError::File, settings.filePath + ": " + std::strerror(error));
  }

  session_ = std::make_unique<Session>();
  session_->flushedBytes = pcap_dump_ftell64(dumper);
  session_->handle = handle;
  session_->dumper = dumper;
  session_->captured = &captured_;
  running_.store(true, std::memory_order_release);
  thread_ = std::thread(&PcapRecorder::run, this);
  return true;
}

void PcapRecorder::stop() {
  stopRequested_.store(true, std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    if (session_ != nullptr && session_->handle != nullptr) pcap_breakloop(session_->handle);
  }
  if (thread_.joinable()) thread_.join();
}

void PcapRecorder::readStats() {
  pcap_stat stats{};
  if (pcap_stats(session_->handle, &stats) == 0)
    dropped_.store(stats.ps_drop, std::memory_order_relaxed);
}

namespace {

void writeFrame(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
  auto* session = reinterpret_cast<PcapRecorder::Session*>(user);
  if (session->writeFailed) return;
  pcap_dump(reinterpret_cast<u_char*>(session->dumper), header, bytes);
  // Flushed frame by frame, so a recording cut off by a crash or power loss keeps them all.
  errno = 0;
  if (pcap_dump_flush(session->dumper) != 0) {
    session->writeFailed = true;
    session->writeErrno = errno != 0 ? errno : EIO;
    cutBackToWholeRecords(*session);
    pcap_breakloop(session->handle);
    return;
  }
  session->flushedBytes += kRecordHeaderBytes + int64_t(header->caplen);
  session->captured->fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

void PcapRecorder::run() {
  Session& s = *session_;
  while (!stopRequested_.load(std::memory_order_acquire)) {
    const int n = pcap_dispatch(s.handle, -1, writeFrame, reinterpret_cast<u_char*>(&s));
    if (s.writeFailed) {
      setError(RecordError::File, settings_.filePath + ": " + std::strerror(s.writeErrno));
      break;
    }
    if (n == PCAP_ERROR) {
      setError(RecordError::Interface, settings_.interfaceName + ": " + pcap_geterr(s.handle));
      break;
    }
    readStats();
  }
  readStats();
  // Every frame was flushed as it came; a flush that still fails here is a failed recording.
  errno = 0;
  if (!s.writeFailed && pcap_dump_flush(s.dumper) != 0) {
    setError(RecordError::File,
             settings_.filePath + ": " + std::strerror(errno != 0 ? errno : EIO));
    cutBackToWholeRecords(s);
  }
  pcap_dump_close(s.dumper);
  s.dumper = nullptr;
  {
    std::lock_guard<std::mutex> lock(sessionMutex_);
    pcap_close(s.handle);
    s.handle = nullptr;
  }
  running_.store(false, std::memory_order_release);
}

}  // namespace tovik::capture
