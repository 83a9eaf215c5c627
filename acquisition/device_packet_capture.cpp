#include "acquisition/device_packet_capture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>

#include "acquisition/capture_format.h"

namespace tovik {

namespace {

struct PcapCloser {
  void operator()(pcap_t* p) const { pcap_close(p); }
};
using PcapHandle = std::unique_ptr<pcap_t, PcapCloser>;

// The local IPv4 address the kernel would send from to reach destination. A UDP connect sends
// nothing; it only chooses the route.
bool localAddressFor(in_addr destination, in_addr* local) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9);
  to.sin_addr = destination;
  sockaddr_in me{};
  socklen_t len = sizeof me;
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                  ::getsockname(fd, reinterpret_cast<sockaddr*>(&me), &len) == 0;
  ::close(fd);
  if (ok) *local = me.sin_addr;
  return ok && me.sin_addr.s_addr != 0;
}

}  // namespace

std::string captureInterfaceFor(const std::string& address, std::string* error) {
  in_addr dest{};
  if (::inet_pton(AF_INET, address.c_str(), &dest) != 1) {
    *error = "not an IPv4 address: " + address;
    return {};
  }
  if ((ntohl(dest.s_addr) >> 24) == 127) return "lo";
  in_addr local{};
  if (!localAddressFor(dest, &local)) {
    *error = "no route to " + address;
    return {};
  }
  char errbuf[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* all = nullptr;
  if (pcap_findalldevs(&all, errbuf) != 0) {
    *error = errbuf;
    return {};
  }
  std::string name;
  for (pcap_if_t* d = all; d != nullptr && name.empty(); d = d->next) {
    for (pcap_addr_t* a = d->addresses; a != nullptr; a = a->next) {
      if (a->addr == nullptr || a->addr->sa_family != AF_INET) continue;
      if (reinterpret_cast<sockaddr_in*>(a->addr)->sin_addr.s_addr == local.s_addr) {
        name = d->name;
        break;
      }
    }
  }
  pcap_freealldevs(all);
  if (name.empty()) *error = "no capture adapter holds the route to " + address;
  return name;
}

DevicePacketCaptureResult captureDevicePacket(const DevicePacketCaptureOptions& options) {
  DevicePacketCaptureResult result;
  std::string name = options.interfaceName;
  if (name.empty()) {
    name = captureInterfaceFor(options.routeAddress, &result.error);
    if (name.empty()) {
      result.outcome = CaptureOutcome::NoAdapter;
      return result;
    }
  }
  result.interfaceName = name;

  char errbuf[PCAP_ERRBUF_SIZE] = {};
  PcapHandle pcap(pcap_create(name.c_str(), errbuf));
  if (!pcap) {
    result.outcome = CaptureOutcome::OpenFailed;
    result.error = errbuf;
    return result;
  }
  pcap_set_snaplen(pcap.get(), 65535);
  pcap_set_promisc(pcap.get(), 1);
  pcap_set_timeout(pcap.get(), 100);
  // Frames are handed over as they arrive, not when a buffer block fills.
  pcap_set_immediate_mode(pcap.get(), 1);
  if (pcap_activate(pcap.get()) < 0) {
    result.outcome = CaptureOutcome::OpenFailed;
    result.error = pcap_geterr(pcap.get());
    return result;
  }
  // Payload offsets assume Ethernet framing (Linux gives loopback frames an Ethernet header).
  if (pcap_datalink(pcap.get()) != DLT_EN10MB) {
    result.outcome = CaptureOutcome::OpenFailed;
    result.error = name + " does not carry Ethernet frames";
    return result;
  }
  const std::string filter =
      options.port != 0 ? "udp port " + std::to_string(options.port) : std::string("udp");
  bpf_program program{};
  if (pcap_compile(pcap.get(), &program, filter.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0 ||
      pcap_setfilter(pcap.get(), &program) != 0) {
    result.outcome = CaptureOutcome::OpenFailed;
    result.error = pcap_geterr(pcap.get());
    pcap_freecode(&program);
    return result;
  }
  pcap_freecode(&program);
  const int fd = pcap_get_selectable_fd(pcap.get());
  if (fd < 0 || pcap_setnonblock(pcap.get(), 1, errbuf) != 0) {
    result.outcome = CaptureOutcome::OpenFailed;
    result.error = fd < 0 ? "adapter cannot be polled" : errbuf;
    return result;
  }

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
  result.outcome = CaptureOutcome::NoMatch;
  while (result.framesRead < options.frameLimit) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int r = pcap_next_ex(pcap.get(), &header, &data);
    if (r == 1) {
      ++result.framesRead;
      // The datagram's own length decides, not the frame's: a frame padded to the size of a
      // device frame can carry a shorter datagram.
      const uint8_t* payload = nullptr;
      size_t payloadLength = 0;
      if (header->len != header->caplen ||
          !capture::findUdpPayload(capture::kLinkEthernet, data, header->caplen, true, &payload,
                                   &payloadLength))
        continue;
      if (payloadLength < kDevicePacketSize) {
        ++result.shortDatagrams;
        continue;
      }
      if (payloadLength == kDevicePacketSize && payload == data + kFramePayloadOffset &&
          parseDeviceFrame(data, header->caplen, options.requireDeviceHeader, &result.packet)) {
        result.outcome = CaptureOutcome::Matched;
        return result;
      }
      continue;
    }
    if (r < 0) {  // the read failed: ends like a time-out
      result.error = pcap_geterr(pcap.get());
      return result;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return result;
    pollfd p{fd, POLLIN, 0};
    ::poll(&p, 1, int(left));
  }
  return result;
}

}  // namespace tovik
