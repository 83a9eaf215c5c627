#include "acquisition/pcap_writer.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tovik::capture {
namespace {

constexpr uint32_t kMagicMicro = 0xA1B2C3D4;
constexpr uint32_t kMagicNano = 0xA1B23C4D;
constexpr uint32_t kPcapngSection = 0x0A0D0D0A;
constexpr uint32_t kPcapngByteOrderMagic = 0x1A2B3C4D;
constexpr uint32_t kPcapngInterface = 1;
constexpr uint32_t kPcapngEnhancedPacket = 6;

constexpr size_t kIpv4HeaderSize = 20;
constexpr size_t kUdpHeaderSize = 8;
constexpr size_t kMaxLinkHeader = 14 + 2 * 4;  // Ethernet with two tags; SLL2 is 20

constexpr uint16_t kVlanOuterId = 100;  // 802.1ad service tag of the two-tag layout
constexpr uint16_t kVlanInnerId = 200;  // 802.1Q customer tag (the only tag of one)

inline bool hostLittleEndian() {
  const uint16_t probe = 1;
  uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

inline void putBe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void putBe32(uint8_t* p, uint32_t v) {
  putBe16(p, uint16_t(v >> 16));
  putBe16(p + 2, uint16_t(v));
}

// Locally administered MAC addresses that carry the IPv4 address, so frames stay readable.
void putMac(uint8_t* p, uint32_t ip) {
  p[0] = 0x02;
  p[1] = 0x00;
  putBe32(p + 2, ip);
}

size_t linkHeaderSize(const WriterOptions& o) {
  switch (o.link) {
    case kLinkEthernet:
      return 14 + 4 * size_t(o.vlanTags);
    case kLinkLinuxSll:
      return 16;
    case kLinkLinuxSll2:
      return 20;
    case kLinkNull:
    case kLinkLoop:
      return 4;
    case kLinkRaw:
    case kLinkIpv4:
      return 0;
    default:
      return SIZE_MAX;  // no IPv4 framing for this link type
  }
}

}  // namespace

uint16_t ipv4Checksum(const uint8_t* header, size_t len) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < len; i += 2) sum += uint32_t(header[i] << 8 | header[i + 1]);
  if (len % 2) sum += uint32_t(header[len - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

CaptureWriter::CaptureWriter(std::ostream& out, WriterOptions options)
    : out_(out), options_(options) {
  if (options_.vlanTags < 0 || options_.vlanTags > 2) {
    options_.vlanTags = 0;
    ok_ = false;  // nothing is written
  }
  writeHeader();
}

void CaptureWriter::fail() { ok_ = false; }

void CaptureWriter::put16(uint16_t v) {
  if (options_.swapped) v = uint16_t(v >> 8 | v << 8);
  putBytes(&v, 2);
}

void CaptureWriter::put32(uint32_t v) {
  if (options_.swapped) {
    v = v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;
  }
  putBytes(&v, 4);
}

void CaptureWriter::putBytes(const void* data, size_t len) {
  if (!ok_) return;
  out_.write(static_cast<const char*>(data), std::streamsize(len));
  if (!out_) fail();
}

void CaptureWriter::writeHeader() {
  if (!options_.pcapng) {
    put32(options_.nanosecond ? kMagicNano : kMagicMicro);
    put16(2);  // version 2.4
    put16(4);
    put32(0);  // UTC offset, always 0
    put32(0);  // timestamp accuracy, unused
    put32(options_.snaplen);
    put32(options_.link);
    return;
  }
  // Section header: no options, section length unknown (-1).
  put32(kPcapngSection);
  put32(28);
  put32(kPcapngByteOrderMagic);
  put16(1);
  put16(0);
  put32(0xFFFFFFFF);
  put32(0xFFFFFFFF);
  put32(28);
  // Interface description; microseconds are the default resolution, ns need if_tsresol = 9.
  const uint32_t length = options_.nanosecond ? 32 : 20;
  put32(kPcapngInterface);
  put32(length);
  put16(uint16_t(options_.link));
  put16(0);
  put32(options_.snaplen);
  if (options_.nanosecond) {
    put16(9);  // if_tsresol
    put16(1);
    const uint8_t resolution[4] = {9, 0, 0, 0};
    putBytes(resolution, 4);
    put16(0);  // opt_endofopt
    put16(0);
  }
  put32(length);
}

bool CaptureWriter::writeRecord(uint64_t timeNs, const uint8_t* frame, size_t caplen,
                                size_t origlen) {
  if (!ok_) return false;
  if (origlen < caplen || origlen > UINT32_MAX) return false;
  caplen = std::min<size_t>(caplen, options_.snaplen);
  const uint64_t seconds = timeNs / 1000000000u;
  const uint64_t nanos = timeNs % 1000000000u;
  if (!options_.pcapng) {
    if (seconds > UINT32_MAX) return false;
    put32(uint32_t(seconds));
    put32(uint32_t(options_.nanosecond ? nanos : nanos / 1000));
    put32(uint32_t(caplen));
    put32(uint32_t(origlen));
    putBytes(frame, caplen);
  } else {
    const uint64_t units = options_.nanosecond ? timeNs : timeNs / 1000;
    const size_t padded = (caplen + 3) & ~size_t(3);
    const uint32_t length = uint32_t(32 + padded);
    put32(kPcapngEnhancedPacket);
    put32(length);
    put32(0);  // interface id
    put32(uint32_t(units >> 32));
    put32(uint32_t(units));
    put32(uint32_t(caplen));
    put32(uint32_t(origlen));
    putBytes(frame, caplen);
    const uint8_t zeros[4] = {0, 0, 0, 0};
    putBytes(zeros, padded - caplen);
    put32(length);
  }
  if (ok_) ++records_;
  return ok_;
}

size_t CaptureWriter::buildUdpFrame(uint32_t srcIp, uint16_t srcPort, uint32_t dstIp,
                                    uint16_t dstPort, const uint8_t* payload, size_t len,
                                    uint8_t* frame, size_t capacity) const {
  const size_t linkSize = linkHeaderSize(options_);
  if (linkSize == SIZE_MAX) return 0;
  const size_t ipLength = kIpv4HeaderSize + kUdpHeaderSize + len;
  if (ipLength > 0xFFFF || linkSize + ipLength > capacity) return 0;

  uint8_t* p = frame;
  switch (options_.link) {
    case kLinkEthernet: {
      putMac(p, dstIp);
      putMac(p + 6, srcIp);
      p += 12;
      if (options_.vlanTags == 2) {
        putBe16(p, 0x88A8);
        putBe16(p + 2, kVlanOuterId);
        p += 4;
      }
      if (options_.vlanTags >= 1) {
        putBe16(p, 0x8100);
        putBe16(p + 2, kVlanInnerId);
        p += 4;
      }
      putBe16(p, 0x0800);
      p += 2;
      break;
    }
    case kLinkLinuxSll:
      putBe16(p, 0);      // packet type: addressed to this host
      putBe16(p + 2, 1);  // ARPHRD_ETHER
      putBe16(p + 4, 6);
      putMac(p + 6, srcIp);
      putBe16(p + 12, 0);
      putBe16(p + 14, 0x0800);
      p += 16;
      break;
    case kLinkLinuxSll2:
      putBe16(p, 0x0800);
      putBe16(p + 2, 0);
      putBe32(p + 4, 1);  // interface index
      putBe16(p + 8, 1);  // ARPHRD_ETHER
      p[10] = 0;          // packet type: addressed to this host
      p[11] = 6;
      putMac(p + 12, srcIp);
      putBe16(p + 18, 0);
      p += 20;
      break;
    case kLinkNull: {
      // The family is in the byte order of the host that wrote the file.
      const bool little = hostLittleEndian() != options_.swapped;
      const uint8_t family[4] = {uint8_t(little ? 2 : 0), 0, 0, uint8_t(little ? 0 : 2)};
      std::memcpy(p, family, 4);
      p += 4;
      break;
    }
    case kLinkLoop:
      putBe32(p, 2);
      p += 4;
      break;
    default:
      break;
  }

  uint8_t* ip = p;
  ip[0] = 0x45;
  ip[1] = 0;
  putBe16(ip + 2, uint16_t(ipLength));
  putBe16(ip + 4, uint16_t(records_));
  putBe16(ip + 6, 0x4000);  // don't fragment
  ip[8] = 64;
  ip[9] = 17;
  putBe16(ip + 10, 0);
  putBe32(ip + 12, srcIp);
  putBe32(ip + 16, dstIp);
  putBe16(ip + 10, ipv4Checksum(ip, kIpv4HeaderSize));

  uint8_t* udp = ip + kIpv4HeaderSize;
  putBe16(udp, srcPort);
  putBe16(udp + 2, dstPort);
  putBe16(udp + 4, uint16_t(kUdpHeaderSize + len));
  putBe16(udp + 6, 0);
  if (len) std::memcpy(udp + kUdpHeaderSize, payload, len);
  return size_t(udp + kUdpHeaderSize + len - frame);
}

bool CaptureWriter::writeUdp(uint64_t timeNs, uint32_t srcIp, uint16_t srcPort, uint32_t dstIp,
                             uint16_t dstPort, const uint8_t* payload, size_t len) {
  if (!ok_) return false;
  // One frame buffer per writer thread keeps the per-datagram cost to the copy.
  thread_local std::vector<uint8_t> frame;
  const size_t need = kMaxLinkHeader + kIpv4HeaderSize + kUdpHeaderSize + len;
  if (frame.size() < need) frame.resize(need);
  const size_t frameLength =
      buildUdpFrame(srcIp, srcPort, dstIp, dstPort, payload, len, frame.data(), frame.size());
  if (frameLength == 0) return false;
  return writeRecord(timeNs, frame.data(), frameLength, frameLength);
}

}  // namespace tovik::capture
