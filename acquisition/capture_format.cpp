#include "acquisition/capture_format.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "acquisition/point_packet.h"

namespace tovik::capture {
namespace {

// File magics as read little-endian from the first four bytes.
constexpr uint32_t kMagicMicro = 0xA1B2C3D4;
constexpr uint32_t kMagicMicroSwapped = 0xD4C3B2A1;
constexpr uint32_t kMagicNano = 0xA1B23C4D;
constexpr uint32_t kMagicNanoSwapped = 0x4D3CB2A1;
constexpr uint32_t kMagicModified = 0xA1B2CD34;  // Kuznetzov's patched libpcap: 24-byte records
constexpr uint32_t kMagicModifiedSwapped = 0x34CDB2A1;
constexpr uint32_t kPcapngSectionType = 0x0A0D0D0A;  // the same in both byte orders
constexpr uint32_t kPcapngByteOrderMagic = 0x1A2B3C4D;

constexpr size_t kPcapFileHeaderSize = 24;
constexpr size_t kPcapngMinSectionSize = 28;

// pcapng block types.
constexpr uint32_t kBlockInterface = 1;
constexpr uint32_t kBlockObsoletePacket = 2;
constexpr uint32_t kBlockSimplePacket = 3;
constexpr uint32_t kBlockEnhancedPacket = 6;

// A record claiming more bytes than this is corrupt rather than cut off by the end of the file.
constexpr uint64_t kMaxPlausibleRecord = 64u << 20;
constexpr size_t kProgressStep = 4u << 20;

// Smallest file bytes a point packet can occupy: a 16-byte pcap record header, IPv4 and UDP
// headers and the payload. Reserving size / this never reallocates the point index.
constexpr size_t kMinPointRecordBytes = 16 + 20 + 8 + kPacketSize;

inline uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint32_t bswap32(uint32_t v) {
  return v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;
}

// Reads multi-byte fields in the byte order of the capture's writer.
struct Order {
  bool little = true;
  uint16_t u16(const uint8_t* p) const { return little ? le16(p) : be16(p); }
  uint32_t u32(const uint8_t* p) const { return little ? le32(p) : be32(p); }
  uint64_t u64(const uint8_t* p) const {
    return little ? uint64_t(le32(p + 4)) << 32 | le32(p) : uint64_t(be32(p)) << 32 | be32(p + 4);
  }
};

bool udpPayload(const uint8_t* p, size_t avail, const uint8_t** payload, size_t* len) {
  if (avail < 8) return false;
  const size_t udpLength = be16(p + 4);
  // A datagram longer than the captured bytes is incomplete; bytes after it (Ethernet padding,
  // a frame check sequence) are not part of it.
  if (udpLength < 8 || udpLength > avail) return false;
  *payload = p + 8;
  *len = udpLength - 8;
  return true;
}

bool ipv4Udp(const uint8_t* p, size_t n, const uint8_t** payload, size_t* len) {
  if (n < 20 || p[0] >> 4 != 4) return false;
  const size_t headerLength = size_t(p[0] & 0x0F) * 4;
  if (headerLength < 20 || headerLength > n) return false;
  size_t total = be16(p + 2);
  // Segmentation offload can leave the total length 0 in captures of sent packets.
  if (total == 0) total = n;
  if (total < headerLength) return false;
  // Only a whole datagram or its first fragment carries the UDP header; later fragments and
  // the first of several (MF set) do not hold a complete payload.
  if (be16(p + 6) & 0x3FFF) return false;
  if (p[9] != 17) return false;
  return udpPayload(p + headerLength, std::min(total, n) - headerLength, payload, len);
}

bool ipv6Udp(const uint8_t* p, size_t n, const uint8_t** payload, size_t* len) {
  if (n < 40 || p[0] >> 4 != 6) return false;
  if (p[6] != 17) return false;  // extension headers are not followed
  size_t payloadLength = be16(p + 4);
  if (payloadLength == 0) payloadLength = n - 40;  // jumbogram or offload: trust the capture
  return udpPayload(p + 40, std::min(payloadLength, n - 40), payload, len);
}

enum class Net { kNone, kIpv4, kIpv6 };

Net fromEtherType(uint16_t type) {
  if (type == 0x0800) return Net::kIpv4;
  if (type == 0x86DD) return Net::kIpv6;
  return Net::kNone;
}

// BSD address families: AF_INET is 2 everywhere, AF_INET6 differs between systems.
Net fromFamily(uint32_t family) {
  if (family == 2) return Net::kIpv4;
  if (family == 10 || family == 24 || family == 28 || family == 30) return Net::kIpv6;
  return Net::kNone;
}

struct Interface {
  uint32_t link = 0;
  uint32_t snaplen = 0;
  // Timestamp units to ns: ns = units * mul / div, or (units * 1e9) >> shift when shift > 0.
  uint64_t mul = 1000;
  uint64_t div = 1;
  int shift = 0;
  int64_t offsetSeconds = 0;

  uint64_t toNs(uint64_t units) const {
    uint64_t ns;
    if (shift > 0) {
      ns = uint64_t((unsigned __int128)units * 1000000000u >> shift);
    } else if (div == 1) {
      ns = units * mul;
    } else {
      ns = units / div;
    }
    return ns + uint64_t(offsetSeconds) * 1000000000u;
  }

  // if_tsresol: high bit clear, a negative power of ten; set, a negative power of two.
  void setResolution(uint8_t code) {
    const int exponent = code & 0x7F;
    mul = 1;
    div = 1;
    shift = 0;
    if (code & 0x80) {
      if (exponent == 0) {
        mul = 1000000000u;  // whole seconds
      } else {
        shift = std::min(exponent, 63);
      }
    } else if (exponent <= 9) {
      for (int i = exponent; i < 9; ++i) mul *= 10;
    } else {
      for (int i = 9; i < std::min(exponent, 28); ++i) div *= 10;
    }
  }
};

class Indexer {
 public:
  Indexer(const uint8_t* data, size_t size, Index* out, const std::function<void(size_t)>& progress)
      : data_(data), size_(size), out_(out), progress_(progress) {}

  void record(uint32_t link, const uint8_t* frame, size_t caplen, bool writerLittle,
              uint64_t timeNs) {
    ++out_->records;
    const uint8_t* payload = nullptr;
    size_t len = 0;
    if (findUdpPayload(link, frame, caplen, writerLittle, &payload, &len) && len == kPacketSize) {
      if (isPointPacket(payload)) {
        addPoint(payload, timeNs);
        return;
      }
      if (isDevicePacket(payload, len)) {
        out_->devicePackets.push_back(payload);
        return;
      }
    }
    // Older recordings are read by position alone: a 1248-byte Ethernet record whose payload
    // sits at byte 42, whatever its headers say.
    if (link == kLinkEthernet && caplen == kLegacyRecordSize) {
      const uint8_t* legacy = frame + kLegacyPayloadOffset;
      if (isPointPacket(legacy)) {
        addPoint(legacy, timeNs);
        return;
      }
      if (isDevicePacket(legacy, kPacketSize)) {
        out_->devicePackets.push_back(legacy);
        return;
      }
    }
    ++out_->skipped;
  }

  void malformedRecord() {
    ++out_->records;
    ++out_->skipped;
  }

  void tick(size_t offset) {
    if (progress_ && offset >= nextProgress_) {
      progress_(offset);
      nextProgress_ = offset + kProgressStep;
    }
  }

  void finish() {
    if (progress_) progress_(size_);
  }

  void pcap(uint32_t magic) {
    Order order;
    order.little = magic == kMagicMicro || magic == kMagicNano || magic == kMagicModified;
    const bool nano = magic == kMagicNano || magic == kMagicNanoSwapped;
    const size_t recordHeader =
        (magic == kMagicModified || magic == kMagicModifiedSwapped) ? 24 : 16;
    out_->format = nano ? "pcap (ns)" : "pcap";
    // The upper bits of the link field carry frame check sequence flags, not the type.
    const uint32_t link = order.u32(data_ + 20) & 0xFFFF;
    const uint64_t fractionNs = nano ? 1 : 1000;

    size_t offset = kPcapFileHeaderSize;
    while (offset < size_) {
      const size_t left = size_ - offset;
      if (left < recordHeader) {
        out_->truncated = true;
        break;
      }
      const uint8_t* h = data_ + offset;
      const uint32_t caplen = order.u32(h + 8);
      if (caplen > left - recordHeader) {
        if (caplen > kMaxPlausibleRecord) {
          out_->damaged = true;
        } else {
          out_->truncated = true;
        }
        break;
      }
      const uint64_t timeNs =
          uint64_t(order.u32(h)) * 1000000000u + uint64_t(order.u32(h + 4)) * fractionNs;
      record(link, h + recordHeader, caplen, order.little, timeNs);
      offset += recordHeader + caplen;
      tick(offset);
    }
  }

  void pcapng() {
    out_->format = "pcapng";
    Order order;
    std::vector<Interface> interfaces;
    size_t offset = 0;
    while (offset < size_) {
      const size_t left = size_ - offset;
      const uint8_t* block = data_ + offset;
      if (left < 12) {
        out_->truncated = true;
        break;
      }
      const bool section = le32(block) == kPcapngSectionType;
      if (section) {
        // Each section declares its own byte order.
        const uint32_t bom = le32(block + 8);
        if (bom == kPcapngByteOrderMagic) {
          order.little = true;
        } else if (bom == bswap32(kPcapngByteOrderMagic)) {
          order.little = false;
        } else {
          out_->damaged = true;
          break;
        }
      }
      const uint32_t type = order.u32(block);
      const uint32_t length = order.u32(block + 4);
      if (length < 12 || length % 4 != 0) {
        out_->damaged = true;
        break;
      }
      if (length > left) {
        out_->truncated = true;
        break;
      }
      const uint8_t* body = block + 8;
      const size_t bodyLength = length - 12;
      if (section) {
        if (bodyLength < 16) {
          out_->damaged = true;
          break;
        }
        interfaces.clear();
      } else if (type == kBlockInterface) {
        interfaces.push_back(parseInterface(order, body, bodyLength));
      } else if (type == kBlockEnhancedPacket || type == kBlockObsoletePacket) {
        packet(order, type, body, bodyLength, interfaces);
      } else if (type == kBlockSimplePacket) {
        simplePacket(order, body, bodyLength, interfaces);
      }
      offset += length;
      tick(offset);
    }
  }

 private:
  void addPoint(const uint8_t* payload, uint64_t timeNs) {
    if (out_->pointPackets.empty()) out_->firstPointTimeNs = timeNs;
    out_->lastPointTimeNs = timeNs;
    out_->pointPackets.push_back(payload);
    out_->pointTimesNs.push_back(timeNs);
  }

  static Interface parseInterface(const Order& order, const uint8_t* body, size_t length) {
    Interface itf;
    if (length < 8) {
      itf.link = UINT32_MAX;  // unusable: its packets are skipped
      return itf;
    }
    itf.link = order.u16(body);
    itf.snaplen = order.u32(body + 4);
    size_t pos = 8;
    while (pos + 4 <= length) {
      const uint16_t code = order.u16(body + pos);
      const size_t optionLength = order.u16(body + pos + 2);
      const size_t value = pos + 4;
      if (code == 0 || optionLength > length - value) break;
      if (code == 9 && optionLength >= 1) itf.setResolution(body[value]);
      if (code == 14 && optionLength >= 8) itf.offsetSeconds = int64_t(order.u64(body + value));
      pos = value + ((optionLength + 3) & ~size_t(3));
    }
    return itf;
  }

  void packet(const Order& order, uint32_t type, const uint8_t* body, size_t length,
              const std::vector<Interface>& interfaces) {
    if (length < 20) {
      malformedRecord();
      return;
    }
    // The obsolete packet block has a 16-bit interface id followed by a drop counter.
    const uint32_t id = type == kBlockObsoletePacket ? order.u16(body) : order.u32(body);
    const uint64_t units = uint64_t(order.u32(body + 4)) << 32 | order.u32(body + 8);
    const uint32_t caplen = order.u32(body + 12);
    if (id >= interfaces.size() || caplen > length - 20) {
      malformedRecord();
      return;
    }
    const Interface& itf = interfaces[id];
    record(itf.link, body + 20, caplen, order.little, itf.toNs(units));
  }

  void simplePacket(const Order& order, const uint8_t* body, size_t length,
                    const std::vector<Interface>& interfaces) {
    if (length < 4 || interfaces.empty()) {
      malformedRecord();
      return;
    }
    // The captured length is implied: the original length cut by the snaplen and the block.
    const Interface& itf = interfaces[0];
    size_t caplen = std::min<size_t>(order.u32(body), length - 4);
    if (itf.snaplen != 0) caplen = std::min<size_t>(caplen, itf.snaplen);
    record(itf.link, body + 4, caplen, order.little, 0);  // simple blocks carry no time
  }

  const uint8_t* data_;
  size_t size_;
  Index* out_;
  const std::function<void(size_t)>& progress_;
  size_t nextProgress_ = kProgressStep;
};

std::string hex32(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", v);
  return text;
}

}  // namespace

bool isDevicePacket(const uint8_t* payload, size_t len) {
  return len == kPacketSize && payload[0] == 0xA5 && payload[1] == 0xFF && payload[2] == 0x00 &&
         payload[3] == 0x5A;
}

bool findUdpPayload(uint32_t link, const uint8_t* frame, size_t caplen, bool writerLittleEndian,
                    const uint8_t** payload, size_t* payloadLen) {
  Net net = Net::kNone;
  size_t offset = 0;
  switch (link) {
    case kLinkEthernet: {
      if (caplen < 14) return false;
      uint16_t type = be16(frame + 12);
      offset = 14;
      // Up to two tags: 802.1Q (8100), 802.1ad service tag (88A8) or the older 9100.
      for (int tags = 0; tags < 2 && (type == 0x8100 || type == 0x88A8 || type == 0x9100); ++tags) {
        if (caplen < offset + 4) return false;
        type = be16(frame + offset + 2);
        offset += 4;
      }
      net = fromEtherType(type);
      break;
    }
    case kLinkLinuxSll:
      if (caplen < 16) return false;
      net = fromEtherType(be16(frame + 14));
      offset = 16;
      break;
    case kLinkLinuxSll2:
      if (caplen < 20) return false;
      net = fromEtherType(be16(frame));
      offset = 20;
      break;
    case kLinkNull: {
      if (caplen < 4) return false;
      uint32_t family = writerLittleEndian ? le32(frame) : be32(frame);
      // Families are small numbers: a large value was written by a host of the other order.
      if (family > 0xFFFF) family = bswap32(family);
      net = fromFamily(family);
      offset = 4;
      break;
    }
    case kLinkLoop:
      if (caplen < 4) return false;
      net = fromFamily(be32(frame));
      offset = 4;
      break;
    case kLinkRaw:
      if (caplen < 1) return false;
      net = frame[0] >> 4 == 4 ? Net::kIpv4 : frame[0] >> 4 == 6 ? Net::kIpv6 : Net::kNone;
      break;
    case kLinkIpv4:
      net = Net::kIpv4;
      break;
    case kLinkIpv6:
      net = Net::kIpv6;
      break;
    default:
      return false;
  }
  if (net == Net::kIpv4) return ipv4Udp(frame + offset, caplen - offset, payload, payloadLen);
  if (net == Net::kIpv6) return ipv6Udp(frame + offset, caplen - offset, payload, payloadLen);
  return false;
}

bool indexCapture(const uint8_t* data, size_t size, Index* out, std::string* error,
                  const std::function<void(size_t bytesDone)>& progress) {
  *out = Index();
  auto fail = [error](const std::string& text) {
    if (error) *error = text;
    return false;
  };
  if (size == 0) return fail("not a capture file: the file is empty");
  if (size < 4) {
    return fail("not a capture file: " + std::to_string(size) +
                " bytes are too few for a capture header");
  }
  const uint32_t magic = le32(data);
  const bool pcapng = magic == kPcapngSectionType;
  const bool pcap = magic == kMagicMicro || magic == kMagicMicroSwapped || magic == kMagicNano ||
                    magic == kMagicNanoSwapped || magic == kMagicModified ||
                    magic == kMagicModifiedSwapped;
  if (!pcap && !pcapng) {
    return fail("not a capture file: unknown magic number 0x" + hex32(be32(data)));
  }
  const size_t headerSize = pcap ? kPcapFileHeaderSize : kPcapngMinSectionSize;
  if (size < headerSize) {
    return fail(std::string("not a capture file: ") + std::to_string(size) + " bytes are too few " +
                "for a " + (pcap ? "pcap file header" : "pcapng section header") + " (" +
                std::to_string(headerSize) + ")");
  }
  if (pcapng) {
    const uint32_t bom = le32(data + 8);
    if (bom != kPcapngByteOrderMagic && bom != bswap32(kPcapngByteOrderMagic)) {
      return fail("not a capture file: pcapng section header without byte-order magic");
    }
  }

  out->pointPackets.reserve(size / kMinPointRecordBytes + 1);
  out->pointTimesNs.reserve(size / kMinPointRecordBytes + 1);
  Indexer indexer(data, size, out, progress);
  if (pcap) {
    indexer.pcap(magic);
  } else {
    indexer.pcapng();
  }
  // Captures that hold mostly other traffic would otherwise keep the whole estimate reserved.
  if (out->pointPackets.capacity() > 2 * out->pointPackets.size() + 1024) {
    out->pointPackets.shrink_to_fit();
    out->pointTimesNs.shrink_to_fit();
  }
  indexer.finish();
  return true;
}

int estimatePacketsPerFrame(const std::vector<const uint8_t*>& packets) {
  // The device's window: the steps between the first-block azimuths of packets 10..30. A shorter
  // capture uses every consecutive pair it has instead.
  size_t first = 10;
  size_t last = 30;
  if (packets.size() < 31) {
    first = 0;
    last = packets.empty() ? 0 : packets.size() - 1;
  }
  // Whole hundredths of a degree keep the bounds exact: a step of exactly 9.70 degrees is out.
  int64_t sum = 0;
  int count = 0;
  for (size_t i = first; i < last; ++i) {
    int step = int(rawBlockAzimuth(packets[i + 1], 0)) - int(rawBlockAzimuth(packets[i], 0));
    if (step < 0) step += 36000;
    // Steps of 9.7 degrees or more are gaps (lost packets). A step still negative after the
    // wrap only comes from azimuths at or above 360 (invalid): not a usable step either.
    if (step >= 0 && step < 970) {
      sum += step;
      ++count;
    }
  }
  // No step at all, or a device standing still (every step 0): keep the initial value.
  if (count == 0 || sum <= 0) return kDefaultPacketsPerFrame;
  const double estimate = 36000.0 / (double(sum) / count) + 1.0;
  if (estimate >= double(INT_MAX)) return INT_MAX;
  return std::max(1, int(estimate));
}

int frameCountFor(size_t packetCount, int packetsPerFrame) {
  const size_t perFrame = size_t(std::max(1, packetsPerFrame));
  const size_t frames = packetCount / perFrame + (packetCount % perFrame != 0 ? 1 : 0);
  return frames > size_t(INT_MAX) ? INT_MAX : int(frames);
}

}  // namespace tovik::capture
