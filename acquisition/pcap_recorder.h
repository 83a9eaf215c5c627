// Recording of the lidar's traffic (its data port, and by default its device port) from a network
// interface into a libpcap capture file.
//
// start() opens the interface, installs the filter and creates the file (its header flushed to
// disk) on the caller's thread, so every failure, a full disk among them, reaches the caller with
// the library's or the system's own text; only then does the capture thread start. Each frame is
// written and flushed as soon as the kernel hands it over (at most one 100 ms read time-out
// after it arrived): a recording that ends abruptly keeps every frame captured so far. A write
// that fails (the disk filled up) ends the recording at once: the file is cut back to its last
// whole record, isRecording() turns false and error() is File. stop() wakes a waiting read through
// pcap_breakloop (libpcap 1.10 wakes a blocked read on Linux, even with nothing arriving), closes
// the file and releases the interface.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tovik::capture {

struct CaptureInterface {
  std::string name;         // what pcap_create takes ("eth0", "lo")
  std::string description;  // empty when the system gives none
  bool loopback = false;
  bool hasIpv4 = false;  // carries an IPv4 address (a network card rather than a pseudo-device)
  bool up = false;       // the interface is administratively up
  // The link's hardware type as the kernel reports it (/sys/class/net/<name>/type): 1 for
  // Ethernet (ARPHRD_ETHER), 772 for loopback; -1 when unknown (pseudo-devices such as "any").
  int hardwareType = -1;
};

constexpr int kHardwareEthernet = 1;  // ARPHRD_ETHER

// An interface the lidar's traffic can arrive on: Ethernet-like or loopback, up, with an IPv4
// address. Bus monitors (dbus, bluetooth, usbmon), netfilter logs and the "any" pseudo-device
// cannot carry it.
bool canCarryLidarTraffic(const CaptureInterface& i);
// The interfaces of all that can carry the lidar's traffic, in their order.
std::vector<CaptureInterface> lidarCaptureInterfaces(const std::vector<CaptureInterface>& all);

// The capture interfaces of this machine in the library's order. False with *error set when the
// list cannot be read; an empty list (no permission to see any) is a success.
bool listCaptureInterfaces(std::vector<CaptureInterface>* out, std::string* error);

// The interface whose routing entry covers ipv4 (dotted decimal), from the text of
// /proc/net/route (tab-separated, hexadecimal addresses in the kernel's byte order); the most
// specific entry wins, the default route last. An address in 127.0.0.0/8 is always "lo". Empty
// when ipv4 is not an address or no entry covers it.
std::string routeInterfaceFor(const std::string& ipv4, const std::string& routeTable);

// The interface a recording starts on: the first interface with an IPv4 address whose
// description begins with 'R', 'I', 'B' or 'A' (the vendor names of network cards: Realtek,
// Intel, Broadcom, Atheros); else the one named routeInterface (when listed); else the first.
// -1 for an empty list.
int defaultCaptureInterface(const std::vector<CaptureInterface>& interfaces,
                            const std::string& routeInterface);

// Why start() failed.
enum class RecordError {
  None,
  NoPermission,  // capturing needs root or CAP_NET_RAW
  NoSuchInterface,
  Interface,  // any other failure to open or configure the interface
  Filter,     // the filter text does not compile or cannot be installed
  File,       // the capture file cannot be created
  Busy,       // a recording is already running
};

// The capture filter of a recording: "port <dataPort>" alone when devicePort is 0 (or the data
// port itself), else "udp port <dataPort> or udp port <devicePort>", so the device's status
// packets, which name its sensor type and calibration, travel with the point data.
std::string recordFilterText(int dataPort, int devicePort);

struct RecordSettings {
  std::string interfaceName;
  std::string filePath;  // bytes as given to fopen (QFile::encodeName of the chosen name)
  int port = 2368;       // data port
  int devicePort = 0;    // device port recorded as well; 0 records the data port alone
  int snaplen = 65535;
  bool promiscuous = true;
  int bufferBytes = 32 << 20;  // kernel ring; the default 2 MB can overflow at line rate
  // Hand every frame over as it arrives. Off, the kernel packs frames densely into blocks
  // handed over when full or after the read time-out, so the same ring holds far more of them
  // (in immediate mode each frame takes a slot of the interface's MTU: 64 KB on "lo").
  bool immediate = false;
};

class PcapRecorder {
 public:
  PcapRecorder();
  // Stops a running recording and waits for it.
  ~PcapRecorder();
  PcapRecorder(const PcapRecorder&) = delete;
  PcapRecorder& operator=(const PcapRecorder&) = delete;

  // Opens everything and starts the capture thread. On failure nothing runs, no capture file is
  // left behind by this call, and errorText() says why. Not thread-safe against stop().
  bool start(const RecordSettings& settings);
  // Ends the recording: the capture thread sees the request within one read time-out, the file
  // is closed and the interface released before this returns. Harmless when nothing runs.
  void stop();

  // True from a successful start() until stop(), or until the capture thread ended on its own
  // after a read or write error (see errorText()).
  bool isRecording() const { return running_.load(std::memory_order_acquire); }
  RecordError error() const;
  // The reason of the last failed start(), or of the read or write error that ended the last
  // recording (None and empty for a recording that ended well).
  std::string errorText() const;

  // Frames written to the file by the current or last recording. Safe from any thread.
  uint64_t capturedPackets() const { return captured_.load(std::memory_order_relaxed); }
  // Frames the kernel dropped for want of buffer space (pcap_stats), as last read by the
  // capture thread (after each batch and at the end). Safe from any thread.
  uint64_t droppedPackets() const { return dropped_.load(std::memory_order_relaxed); }
  const RecordSettings& settings() const { return settings_; }

  // The open handle and file of one recording (opaque; public for the capture callback).
  struct Session;

 private:
  void run();
  bool fail(RecordError error, const std::string& text);
  void setError(RecordError error, const std::string& text);
  void readStats();

  RecordSettings settings_;
  std::unique_ptr<Session> session_;
  std::thread thread_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> captured_{0};
  std::atomic<uint64_t> dropped_{0};
  // Guards session_'s handle against pcap_breakloop from stop() while the thread releases it.
  std::mutex sessionMutex_;
  mutable std::mutex errorMutex_;
  RecordError error_ = RecordError::None;
  std::string errorText_;
};

}  // namespace tovik::capture
