// Writes capture files (classic pcap or pcapng) to a std::ostream.
//
// Used by recording, the simulated lidar and the tests. A writer emits the file header on
// construction and one record per call; it never throws, and ok() turns false for good once the
// stream fails or a call was given bad arguments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "acquisition/capture_format.h"

namespace tovik::capture {

struct WriterOptions {
  LinkType link = kLinkEthernet;  // kLinkEthernet, kLinkLinuxSll, kLinkLinuxSll2, kLinkNull,
                                  // kLinkLoop, kLinkRaw or kLinkIpv4 for writeUdp()
  bool nanosecond = false;        // timestamps in ns (pcap magic a1b23c4d, pcapng if_tsresol 9)
  bool swapped = false;           // write in the byte order opposite to this host's
  bool pcapng = false;            // one section, one interface, enhanced packet blocks
  int vlanTags = 0;               // Ethernet only: 0, 1 (802.1Q) or 2 (802.1ad outer + 802.1Q)
  uint32_t snaplen = 65535;       // records longer than this are cut to it (origlen kept)
};

class CaptureWriter {
 public:
  // Writes the file header (pcap) or section header and interface description (pcapng).
  explicit CaptureWriter(std::ostream& out, WriterOptions options = {});

  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // One IPv4/UDP datagram framed for the link type: IPv4 header with a valid checksum, DF set,
  // TTL 64, IP identification = record number, UDP checksum 0 (not computed). Addresses in host
  // byte order (0x7F000001 is 127.0.0.1). timeNs: nanoseconds since the Unix epoch; truncated to
  // microseconds unless the writer is in nanosecond mode. Fails (false) when the datagram does not
  // fit one IPv4 packet.
  bool writeUdp(uint64_t timeNs, uint32_t srcIp, uint16_t srcPort, uint32_t dstIp, uint16_t dstPort,
                const uint8_t* payload, size_t len);

  // One record of caplen bytes of an already framed frame; origlen is the length on the wire
  // (at least caplen). caplen above the snaplen is cut to it.
  bool writeRecord(uint64_t timeNs, const uint8_t* frame, size_t caplen, size_t origlen);

  // Builds the link-layer frame writeUdp() would record, for callers that send or inspect it.
  // Returns the frame length, 0 when it does not fit (capacity or 65535-byte IPv4 limit).
  size_t buildUdpFrame(uint32_t srcIp, uint16_t srcPort, uint32_t dstIp, uint16_t dstPort,
                       const uint8_t* payload, size_t len, uint8_t* frame, size_t capacity) const;

  bool ok() const { return ok_; }
  uint64_t recordsWritten() const { return records_; }
  const WriterOptions& options() const { return options_; }

 private:
  void writeHeader();
  void put16(uint16_t v);
  void put32(uint32_t v);
  void putBytes(const void* data, size_t len);
  void fail();

  std::ostream& out_;
  WriterOptions options_;
  bool ok_ = true;
  uint64_t records_ = 0;
};

// IPv4 header checksum (RFC 791) over len bytes, with the checksum field included as stored.
// A header with a correct checksum gives 0.
uint16_t ipv4Checksum(const uint8_t* header, size_t len);

}  // namespace tovik::capture
