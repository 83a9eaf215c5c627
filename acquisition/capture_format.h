// Capture file parsing: classic pcap and pcapng, held in memory as one byte span.
//
// The index holds pointers into the caller's buffer; nothing is copied, so the buffer must outlive
// the index. Bad or foreign records are counted, never fatal; only bytes that are not a capture at
// all make indexCapture() fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tovik::capture {

// Link-layer header types (the LINKTYPE_ / DLT_ numbers stored in pcap and pcapng headers).
enum LinkType : uint32_t {
  kLinkNull = 0,         // BSD loopback: 4-byte address family in the writer's byte order
  kLinkEthernet = 1,     // Ethernet II, optionally with 802.1Q / 802.1ad tags
  kLinkRaw = 101,        // raw IP, version taken from the first nibble
  kLinkLoop = 108,       // OpenBSD loopback: 4-byte address family in network byte order
  kLinkLinuxSll = 113,   // Linux cooked capture v1 (16-byte header)
  kLinkIpv4 = 228,       // raw IPv4
  kLinkIpv6 = 229,       // raw IPv6
  kLinkLinuxSll2 = 276,  // Linux cooked capture v2 (20-byte header)
};

// Legacy layout still accepted: an Ethernet record of exactly this captured length whose bytes at
// kLegacyPayloadOffset are FF EE holds a point packet there (14 Ethernet + 20 IPv4 + 8 UDP bytes).
constexpr size_t kLegacyRecordSize = 1248;
constexpr size_t kLegacyPayloadOffset = 42;

// The revolution estimate starts from this value and returns it when a capture gives no step.
constexpr int kDefaultPacketsPerFrame = 30;

struct Index {
  std::vector<const uint8_t*> pointPackets;   // each points at kPacketSize valid bytes, file order
  std::vector<const uint8_t*> devicePackets;  // device information payloads (A5 FF 00 5A ...)
  uint64_t records = 0;                       // complete records read
  uint64_t skipped = 0;                       // complete records that held neither kind of packet
  bool truncated = false;  // the bytes ended inside a record or block header or body
  bool damaged = false;    // a block or record length was impossible; reading stopped there
  std::string format;      // "pcap", "pcap (ns)" or "pcapng"
  // Capture times of the first and last point packet, ns since the Unix epoch (0 without any).
  uint64_t firstPointTimeNs = 0;
  uint64_t lastPointTimeNs = 0;
  // Capture time of every point packet, ns since the Unix epoch, parallel to pointPackets.
  std::vector<uint64_t> pointTimesNs;
};

// Device information packets are kPacketSize bytes starting A5 FF 00 5A.
bool isDevicePacket(const uint8_t* payload, size_t len);

// Finds the UDP payload of one link-layer frame. Returns false for anything that is not a complete
// first (or only) fragment of an IPv4 or IPv6 UDP datagram. The payload length is the UDP length
// bounded by the captured bytes. writerLittleEndian says which byte order a kLinkNull family uses
// (the byte order of the capture's writer).
bool findUdpPayload(uint32_t link, const uint8_t* frame, size_t caplen, bool writerLittleEndian,
                    const uint8_t** payload, size_t* payloadLen);

// Indexes a whole capture. Returns false with *error set when the bytes are not a capture at all
// (too short for a file header, unknown magic); a capture that merely holds no point packets, or
// ends in a cut record, is a success (see Index::truncated). progress, when set, is called every
// few megabytes and once at the end with the number of bytes consumed.
bool indexCapture(const uint8_t* data, size_t size, Index* out, std::string* error,
                  const std::function<void(size_t bytesDone)>& progress = {});

// Point packets per revolution from the first-block azimuths of packets 10..30: the mean of the
// steps below 9.7 degrees (a negative step wraps by +360), packetsPerFrame = int(360 / mean + 1).
// Fallbacks: with fewer than 31 packets every consecutive pair that exists is used; with no
// usable step (or no packets) the result is kDefaultPacketsPerFrame. Never 0 or negative.
int estimatePacketsPerFrame(const std::vector<const uint8_t*>& packets);

// Revolutions in a capture: packetCount / packetsPerFrame, plus one for a remainder.
// packetsPerFrame below 1 is read as 1.
int frameCountFor(size_t packetCount, int packetsPerFrame);

}  // namespace tovik::capture
