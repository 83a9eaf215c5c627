// Capture fixtures built in memory: point and device payloads, captures written with
// CaptureWriter together with what a reader must find in them, and a hand builder for pcapng
// layouts the writer does not produce (several sections, simple packet blocks, odd options).
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/capture_format.h"
#include "acquisition/pcap_writer.h"
#include "acquisition/point_packet.h"

namespace tovik::capture::fixtures {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kLidarIp = 0x7F000002;  // 127.0.0.2
constexpr uint32_t kHostIp = 0x7F000001;   // 127.0.0.1
constexpr uint16_t kDataPort = 2368;
constexpr uint16_t kDevicePort = 2369;

// 2023-11-14 22:13:20.123456789 UTC; the step is not a whole number of microseconds, so a
// microsecond file visibly truncates.
constexpr uint64_t kStartNs = 1700000000ull * 1000000000ull + 123456789ull;
constexpr uint64_t kStepNs = 1000123;

// A point packet: every block flag FF EE, block 0..11 azimuth given, the serial in the timestamp
// and in the record bytes so each packet's bytes differ.
inline Bytes pointPayload(uint32_t serial, uint16_t azimuth) {
  Bytes p(kPacketSize);
  for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(serial * 31 + i * 7);
  for (int k = 0; k < kBlocksPerPacket; ++k) {
    uint8_t* b = p.data() + kBlockSize * k;
    b[0] = 0xFF;
    b[1] = 0xEE;
    b[2] = uint8_t(azimuth);
    b[3] = uint8_t(azimuth >> 8);
  }
  std::memcpy(p.data() + kTimestampOffset, &serial, 4);  // little-endian host
  return p;
}

inline Bytes devicePayload(uint32_t serial) {
  Bytes p(kPacketSize, uint8_t(serial));
  const uint8_t header[8] = {0xA5, 0xFF, 0x00, 0x5A, 0x11, 0x11, 0x55, 0x55};
  std::memcpy(p.data(), header, 8);
  return p;
}

inline std::string toString(const Bytes& b) { return std::string(b.begin(), b.end()); }
inline const uint8_t* bytesOf(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), std::streamsize(bytes.size()));
}

// What a reader must find in a capture.
struct Expected {
  std::vector<Bytes> points;
  std::vector<uint64_t> pointTimes;  // ns, at the file's resolution
  std::vector<Bytes> devices;
  uint64_t records = 0;
  uint64_t skipped = 0;
};

// Records that hold no usable point or device packet. Each carries a point payload (or a near
// miss of one) so that only the header fault keeps it out.
enum class Junk {
  kTcp,              // IP protocol 6
  kShortUdp,         // a 100-byte payload
  kPayload1205,      // one byte short, starts FF EE
  kPayload1207,      // one byte long, starts FF EE
  kMoreFragments,    // first fragment of a larger datagram (MF set)
  kLaterFragment,    // fragment offset 1480
  kUdpLengthTooBig,  // UDP length claims more bytes than the frame holds
  kCutBySnaplen,     // captured length 10 bytes short of the frame
};
constexpr Junk kAllJunk[] = {
    Junk::kTcp,           Junk::kShortUdp,      Junk::kPayload1205,     Junk::kPayload1207,
    Junk::kMoreFragments, Junk::kLaterFragment, Junk::kUdpLengthTooBig, Junk::kCutBySnaplen};

// Writes a capture with CaptureWriter and keeps the matching Expected.
class FixtureBuilder {
 public:
  explicit FixtureBuilder(WriterOptions options) : options_(options), writer_(out_, options) {}

  CaptureWriter& writer() { return writer_; }
  std::string bytes() const { return out_.str(); }
  const Expected& expected() const { return expected_; }

  void point(uint32_t serial, uint16_t azimuth) {
    const Bytes payload = pointPayload(serial, azimuth);
    const Bytes frame = udpFrame(kDataPort, payload);
    addFrame(frame, frame.size(), payload, Kind::kPoint);
  }

  void device(uint32_t serial) {
    const Bytes payload = devicePayload(serial);
    const Bytes frame = udpFrame(kDevicePort, payload);
    addFrame(frame, frame.size(), payload, Kind::kDevice);
  }

  void junk(Junk kind, uint32_t serial) {
    Bytes payload = pointPayload(serial, 0);
    if (kind == Junk::kShortUdp) payload.resize(100);
    if (kind == Junk::kPayload1205) payload.resize(kPacketSize - 1);
    if (kind == Junk::kPayload1207) payload.push_back(0);
    Bytes frame = udpFrame(kDataPort, payload);
    uint8_t* ip = frame.data() + frame.size() - payload.size() - 28;
    size_t caplen = frame.size();
    switch (kind) {
      case Junk::kTcp:
        ip[9] = 6;
        break;
      case Junk::kMoreFragments:
        ip[6] = 0x20;
        break;
      case Junk::kLaterFragment:
        ip[6] = 0x00;
        ip[7] = 185;  // 185 x 8 = 1480 bytes
        break;
      case Junk::kUdpLengthTooBig:
        ip[28 - 8 + 4] = 0x05;  // UDP length 0x05xx > 1214
        break;
      case Junk::kCutBySnaplen:
        caplen -= 10;
        break;
      default:
        break;
    }
    ip[10] = ip[11] = 0;
    const uint16_t sum = ipv4Checksum(ip, 20);
    ip[10] = uint8_t(sum >> 8);
    ip[11] = uint8_t(sum);
    // An untagged Ethernet record of 1248 bytes with FF EE at byte 42 is a point packet by
    // position, whatever its headers say.
    const bool legacy = options_.link == kLinkEthernet && caplen == kLegacyRecordSize &&
                        frame[42] == 0xFF && frame[43] == 0xEE;
    const Bytes legacyPayload(
        frame.begin() + 42, frame.begin() + 42 + std::min<size_t>(frame.size() - 42, kPacketSize));
    addFrame(frame, caplen, legacyPayload, legacy ? Kind::kPoint : Kind::kSkipped);
  }

  // A raw frame and what it must count as.
  enum class Kind { kPoint, kDevice, kSkipped };
  void addFrame(const Bytes& frame, size_t caplen, const Bytes& payload, Kind kind) {
    const uint64_t time = kStartNs + kStepNs * expected_.records;
    writer_.writeRecord(time, frame.data(), caplen, frame.size());
    ++expected_.records;
    if (kind == Kind::kPoint) {
      expected_.points.push_back(payload);
      expected_.pointTimes.push_back(options_.nanosecond ? time : time / 1000 * 1000);
    } else if (kind == Kind::kDevice) {
      expected_.devices.push_back(payload);
    } else {
      ++expected_.skipped;
    }
  }

  Bytes udpFrame(uint16_t dstPort, const Bytes& payload) const {
    Bytes frame(payload.size() + 64);
    const size_t n = writer_.buildUdpFrame(kLidarIp, 2368, kHostIp, dstPort, payload.data(),
                                           payload.size(), frame.data(), frame.size());
    frame.resize(n);
    return frame;
  }

 private:
  WriterOptions options_;
  std::ostringstream out_;
  CaptureWriter writer_;
  Expected expected_;
};

// Point packets with azimuth steps of 4.30 degrees (84 packets per revolution), a device packet
// every 25 points and one junk record of each kind, in turn, every 10 points.
inline FixtureBuilder& fillMixed(FixtureBuilder& b, int points) {
  int junk = 0;
  for (int i = 0; i < points; ++i) {
    b.point(uint32_t(i), uint16_t(i * 430 % 36000));
    if (i % 25 == 24) b.device(uint32_t(i));
    if (i % 10 == 9) b.junk(kAllJunk[junk++ % 8], uint32_t(1000 + i));
  }
  return b;
}

// Hand-built pcapng in either byte order.
class PcapngBuilder {
 public:
  explicit PcapngBuilder(bool little) : little_(little) {}

  void setLittle(bool little) { little_ = little; }
  const std::string& bytes() const { return bytes_; }

  void section() {
    Bytes body;
    put32(body, 0x1A2B3C4D);
    put16(body, 1);
    put16(body, 0);
    put32(body, 0xFFFFFFFF);
    put32(body, 0xFFFFFFFF);
    block(0x0A0D0D0A, body);
  }

  // options: already encoded option bytes (see option()), without the end marker.
  void interface(uint16_t link, uint32_t snaplen, const Bytes& options = {}) {
    Bytes body;
    put16(body, link);
    put16(body, 0);
    put32(body, snaplen);
    body.insert(body.end(), options.begin(), options.end());
    if (!options.empty()) put32(body, 0);
    block(1, body);
  }

  Bytes option(uint16_t code, const Bytes& value) const {
    Bytes o;
    put16(o, code);
    put16(o, uint16_t(value.size()));
    o.insert(o.end(), value.begin(), value.end());
    while (o.size() % 4) o.push_back(0);
    return o;
  }

  Bytes u64Value(uint64_t v) const {
    Bytes b;
    put32(b, little_ ? uint32_t(v) : uint32_t(v >> 32));
    put32(b, little_ ? uint32_t(v >> 32) : uint32_t(v));
    return b;
  }

  void enhanced(uint32_t interfaceId, uint64_t units, const Bytes& frame) {
    Bytes body;
    put32(body, interfaceId);
    put32(body, uint32_t(units >> 32));
    put32(body, uint32_t(units));
    put32(body, uint32_t(frame.size()));
    put32(body, uint32_t(frame.size()));
    body.insert(body.end(), frame.begin(), frame.end());
    block(6, body);
  }

  void simple(const Bytes& frame) {
    Bytes body;
    put32(body, uint32_t(frame.size()));
    body.insert(body.end(), frame.begin(), frame.end());
    block(3, body);
  }

  void block(uint32_t type, Bytes body) {
    while (body.size() % 4) body.push_back(0);
    Bytes b;
    put32(b, type);
    put32(b, uint32_t(body.size() + 12));
    b.insert(b.end(), body.begin(), body.end());
    put32(b, uint32_t(body.size() + 12));
    bytes_.append(b.begin(), b.end());
  }

  void raw(const std::string& b) { bytes_ += b; }

 private:
  void put16(Bytes& b, uint16_t v) const {
    b.push_back(uint8_t(little_ ? v : v >> 8));
    b.push_back(uint8_t(little_ ? v >> 8 : v));
  }
  void put32(Bytes& b, uint32_t v) const {
    put16(b, uint16_t(little_ ? v : v >> 16));
    put16(b, uint16_t(little_ ? v >> 16 : v));
  }

  bool little_;
  std::string bytes_;
};

}  // namespace tovik::capture::fixtures
