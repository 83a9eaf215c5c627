#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "acquisition/capture_file.h"
#include "acquisition/capture_format.h"
#include "acquisition/pcap_writer.h"
#include "capture_fixtures.h"

namespace tovik::capture {
namespace {

using namespace fixtures;

std::string dataPath(const std::string& name) {
  return std::string(TOVIK_TEST_DATA_DIR) + "/" + name;
}

WriterOptions opts(LinkType link, bool nano = false, bool swapped = false, bool pcapng = false,
                   int vlanTags = 0) {
  WriterOptions o;
  o.link = link;
  o.nanosecond = nano;
  o.swapped = swapped;
  o.pcapng = pcapng;
  o.vlanTags = vlanTags;
  return o;
}

Index indexOf(const std::string& bytes) {
  Index index;
  std::string error;
  EXPECT_TRUE(indexCapture(bytesOf(bytes), bytes.size(), &index, &error)) << error;
  return index;
}
Index indexOf(std::string&&) = delete;  // the index would point into a destroyed string

// Every record libpcap returns for a file, and how it ended (-2 clean end, -1 error).
struct LibpcapView {
  int link = -1;
  int end = 0;
  std::vector<Bytes> points;  // payloads found in libpcap's records by the same link parsing
  std::vector<uint64_t> pointTimes;
  uint64_t records = 0;
};

LibpcapView readWithLibpcap(const std::string& path, bool writerLittle) {
  LibpcapView view;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* p =
      pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, error);
  EXPECT_NE(p, nullptr) << error;
  if (!p) return view;
  view.link = pcap_datalink(p);
  if (view.link == DLT_RAW) view.link = kLinkRaw;  // libpcap maps the file's 101 to DLT_RAW
  pcap_pkthdr* h;
  const u_char* data;
  while ((view.end = pcap_next_ex(p, &h, &data)) == 1) {
    ++view.records;
    const uint8_t* payload = nullptr;
    size_t len = 0;
    const bool udp =
        findUdpPayload(uint32_t(view.link), data, h->caplen, writerLittle, &payload, &len);
    if (!(udp && len == kPacketSize && isPointPacket(payload)) && view.link == kLinkEthernet &&
        h->caplen == kLegacyRecordSize && isPointPacket(data + kLegacyPayloadOffset)) {
      payload = data + kLegacyPayloadOffset;
      len = kPacketSize;
    }
    if (payload && len == kPacketSize && isPointPacket(payload)) {
      view.points.emplace_back(payload, payload + kPacketSize);
      view.pointTimes.push_back(uint64_t(h->ts.tv_sec) * 1000000000u + uint64_t(h->ts.tv_usec));
    }
  }
  pcap_close(p);
  return view;
}

bool hostLittle() {
  const uint16_t one = 1;
  return *reinterpret_cast<const uint8_t*>(&one) == 1;
}

struct FormatCase {
  const char* name;
  WriterOptions options;
  const char* format;
};

class CaptureFormats : public ::testing::TestWithParam<FormatCase> {};

// Each link type and file variant: the reader finds exactly the written point and device
// packets, counts the junk, and libpcap sees the same records and payloads.
TEST_P(CaptureFormats, IndexMatchesWrittenRecordsAndLibpcap) {
  const FormatCase& c = GetParam();
  FixtureBuilder builder(c.options);
  fillMixed(builder, 200);
  ASSERT_TRUE(builder.writer().ok());
  const std::string bytes = builder.bytes();
  const Expected& want = builder.expected();

  const Index index = indexOf(bytes);
  EXPECT_EQ(index.format, c.format);
  EXPECT_EQ(index.records, want.records);
  EXPECT_EQ(index.skipped, want.skipped);
  EXPECT_FALSE(index.truncated);
  EXPECT_FALSE(index.damaged);
  ASSERT_EQ(index.pointPackets.size(), want.points.size());
  for (size_t i = 0; i < want.points.size(); ++i) {
    ASSERT_EQ(std::memcmp(index.pointPackets[i], want.points[i].data(), kPacketSize), 0) << i;
  }
  ASSERT_EQ(index.devicePackets.size(), want.devices.size());
  for (size_t i = 0; i < want.devices.size(); ++i) {
    ASSERT_EQ(std::memcmp(index.devicePackets[i], want.devices[i].data(), kPacketSize), 0) << i;
  }
  EXPECT_EQ(index.firstPointTimeNs, want.pointTimes.front());
  EXPECT_EQ(index.lastPointTimeNs, want.pointTimes.back());

  const std::string path = dataPath(std::string("capture_") + c.name + ".pcap");
  writeFile(path, bytes);
  const LibpcapView lib = readWithLibpcap(path, hostLittle() != c.options.swapped);
  EXPECT_EQ(lib.link, int(c.options.link));
  EXPECT_EQ(lib.end, -2);  // clean end of file
  EXPECT_EQ(lib.records, index.records);
  EXPECT_EQ(lib.points.size(), want.points.size());
  EXPECT_TRUE(lib.points == want.points);
  EXPECT_TRUE(lib.pointTimes == want.pointTimes);
}

const FormatCase kFormatCases[] = {
    {"Ethernet", opts(kLinkEthernet), "pcap"},
    {"EthernetNano", opts(kLinkEthernet, true), "pcap (ns)"},
    {"EthernetSwapped", opts(kLinkEthernet, false, true), "pcap"},
    {"EthernetNanoSwapped", opts(kLinkEthernet, true, true), "pcap (ns)"},
    {"EthernetVlan", opts(kLinkEthernet, false, false, false, 1), "pcap"},
    {"EthernetQinQ", opts(kLinkEthernet, true, true, false, 2), "pcap (ns)"},
    {"Sll", opts(kLinkLinuxSll), "pcap"},
    {"Sll2", opts(kLinkLinuxSll2, true), "pcap (ns)"},
    {"Null", opts(kLinkNull), "pcap"},
    {"NullSwapped", opts(kLinkNull, false, true), "pcap"},
    {"Loop", opts(kLinkLoop), "pcap"},
    {"Raw", opts(kLinkRaw), "pcap"},
    {"Ipv4", opts(kLinkIpv4, false, true), "pcap"},
    {"Pcapng", opts(kLinkEthernet, false, false, true), "pcapng"},
    {"PcapngNanoSwapped", opts(kLinkEthernet, true, true, true), "pcapng"},
    {"PcapngQinQ", opts(kLinkEthernet, false, false, true, 2), "pcapng"},
    {"PcapngSll", opts(kLinkLinuxSll, true, false, true), "pcapng"},
    {"PcapngNullSwapped", opts(kLinkNull, false, true, true), "pcapng"},
};
INSTANTIATE_TEST_SUITE_P(All, CaptureFormats, ::testing::ValuesIn(kFormatCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct CutCase {
  const char* name;
  bool pcapng;
  long cutFromLastRecord;  // bytes kept of the last record; -1 keeps none (a clean end)
  bool truncated;
};

class CaptureCuts : public ::testing::TestWithParam<CutCase> {};

// A file cut inside the last record: every complete record loads and the cut is reported,
// where libpcap reports an error.
TEST_P(CaptureCuts, CompleteRecordsLoad) {
  const CutCase& c = GetParam();
  FixtureBuilder builder(opts(kLinkEthernet, false, false, c.pcapng));
  const int points = 5;
  size_t lastRecordStart = 0;
  for (int i = 0; i < points; ++i) {
    lastRecordStart = builder.bytes().size();
    builder.point(uint32_t(i), uint16_t(i * 430));
  }
  std::string bytes = builder.bytes();
  bytes.resize(lastRecordStart + size_t(std::max(0L, c.cutFromLastRecord)));

  const Index index = indexOf(bytes);
  EXPECT_EQ(index.records, uint64_t(points - 1));
  EXPECT_EQ(index.pointPackets.size(), size_t(points - 1));
  EXPECT_EQ(index.truncated, c.truncated);
  EXPECT_FALSE(index.damaged);

  const std::string path = dataPath(std::string("capture_cut_") + c.name + ".pcap");
  writeFile(path, bytes);
  const LibpcapView lib = readWithLibpcap(path, hostLittle());
  EXPECT_EQ(lib.records, index.records);
  EXPECT_EQ(lib.end, c.truncated ? -1 : -2);
}

INSTANTIATE_TEST_SUITE_P(All, CaptureCuts,
                         ::testing::Values(CutCase{"AtRecordBoundary", false, -1, false},
                                           CutCase{"MidRecordHeader", false, 7, true},
                                           CutCase{"AfterRecordHeader", false, 16, true},
                                           CutCase{"MidRecordBody", false, 600, true},
                                           CutCase{"NgAtBlockBoundary", true, -1, false},
                                           CutCase{"NgMidBlockHeader", true, 6, true},
                                           CutCase{"NgMidBlockFields", true, 20, true},
                                           CutCase{"NgMidBlockBody", true, 900, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CaptureFormat, HeaderOnlyFilesAreEmptyCaptures) {
  for (bool pcapng : {false, true}) {
    FixtureBuilder builder(opts(kLinkEthernet, false, false, pcapng));
    const std::string bytes = builder.bytes();
    const Index index = indexOf(bytes);
    EXPECT_EQ(index.records, 0u);
    EXPECT_TRUE(index.pointPackets.empty());
    EXPECT_FALSE(index.truncated);
    const std::string path = dataPath(pcapng ? "capture_header.pcapng" : "capture_header.pcap");
    writeFile(path, builder.bytes());
    EXPECT_EQ(readWithLibpcap(path, hostLittle()).records, 0u);
  }
}

TEST(CaptureFormat, NotACaptureGivesAnErrorText) {
  const std::string pcapMagic("\xd4\xc3\xb2\xa1", 4);
  const std::string ngStart("\x0a\x0d\x0d\x0a\x1c\x00\x00\x00", 8);
  const struct {
    std::string bytes;
    const char* text;
  } cases[] = {
      {"", "the file is empty"},
      {"\xd4\xc3\xb2", "3 bytes are too few for a capture header"},
      {"hello, this is not a capture file", "unknown magic number 0x68656c6c"},
      {pcapMagic + std::string(16, '\0'), "20 bytes are too few for a pcap file header (24)"},
      {ngStart + "\x4d\x3c\x2b", "11 bytes are too few for a pcapng section header (28)"},
      {ngStart + std::string(24, 'x'), "pcapng section header without byte-order magic"},
  };
  for (const auto& c : cases) {
    Index index;
    index.records = 99;  // a failed call must not leave earlier results behind
    std::string error;
    EXPECT_FALSE(indexCapture(bytesOf(c.bytes), c.bytes.size(), &index, &error));
    EXPECT_EQ(error, std::string("not a capture file: ") + c.text);
    EXPECT_EQ(index.records, 0u);
  }
}

Bytes ipv6Udp(uint8_t nextHeader, const Bytes& payload) {
  Bytes ip(40 + 8, 0);
  ip[0] = 0x60;
  const size_t length = 8 + payload.size();
  ip[4] = uint8_t(length >> 8);
  ip[5] = uint8_t(length);
  ip[6] = nextHeader;
  ip[7] = 64;
  ip[40 + 4] = uint8_t(length >> 8);
  ip[40 + 5] = uint8_t(length);
  ip.insert(ip.end(), payload.begin(), payload.end());
  return ip;
}

Bytes concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// Frames the writer cannot produce: IPv6, foreign address families, the position-only rule.
TEST(CaptureFormat, LinkLayerEdgeCases) {
  const Bytes point = pointPayload(7, 100);
  const Bytes device = devicePayload(7);
  const Bytes ether6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x86, 0xDD};
  const Bytes etherArp = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x06};
  Bytes filler28(28, 0);
  const struct {
    const char* name;
    LinkType link;
    bool little;  // byte order of the writer, for the null link's family
    Bytes frame;
    int kind;  // 0 skipped, 1 point, 2 device
  } cases[] = {
      {"raw ipv6", kLinkRaw, true, ipv6Udp(17, point), 1},
      {"ipv6 link", kLinkIpv6, true, ipv6Udp(17, point), 1},
      {"ethernet ipv6", kLinkEthernet, true, concat(ether6, ipv6Udp(17, point)), 1},
      {"ipv6 extension header", kLinkRaw, true, ipv6Udp(0, point), 0},
      {"null macOS inet6", kLinkNull, true, concat({30, 0, 0, 0}, ipv6Udp(17, point)), 1},
      {"null big-endian family in little file", kLinkNull, true,
       concat({0, 0, 0, 24}, ipv6Udp(17, point)), 1},
      {"null unknown family", kLinkNull, true, concat({99, 0, 0, 0}, ipv6Udp(17, point)), 0},
      {"loop is big-endian", kLinkLoop, true, concat({0, 0, 0, 28}, ipv6Udp(17, point)), 1},
      {"legacy position, not IP", kLinkEthernet, true, concat(concat(etherArp, filler28), point),
       1},
      {"legacy device", kLinkEthernet, true, concat(concat(etherArp, filler28), device), 2},
      {"legacy needs 1248 bytes", kLinkEthernet, true,
       concat(concat(concat(etherArp, filler28), point), {0}), 0},
      {"legacy is Ethernet only", kLinkLinuxSll, true,
       concat(concat(Bytes(16, 0), Bytes(26, 0)), point), 0},
      {"unknown link type", LinkType(147), true, concat(Bytes(42, 0), point), 0},
  };
  for (const auto& c : cases) {
    for (bool pcapng : {false, true}) {
      FixtureBuilder builder(opts(c.link, false, !c.little == hostLittle(), pcapng));
      builder.writer().writeRecord(kStartNs, c.frame.data(), c.frame.size(), c.frame.size());
      const std::string bytes = builder.bytes();
      const Index index = indexOf(bytes);
      EXPECT_EQ(index.records, 1u) << c.name;
      EXPECT_EQ(index.skipped, c.kind == 0 ? 1u : 0u) << c.name;
      const auto& found = c.kind == 2 ? index.devicePackets : index.pointPackets;
      ASSERT_EQ(found.size(), c.kind == 0 ? 0u : 1u) << c.name;
      if (c.kind != 0) {
        EXPECT_EQ(std::memcmp(found[0], c.kind == 1 ? point.data() : device.data(), kPacketSize), 0)
            << c.name;
      }
    }
  }
}

// Several sections of both byte orders, per-interface link types and resolutions, simple and
// unknown blocks, and packets that name an interface their section does not have.
TEST(CaptureFormat, PcapngSectionsAndInterfaces) {
  FixtureBuilder ether(opts(kLinkEthernet));
  FixtureBuilder sll2(opts(kLinkLinuxSll2));
  FixtureBuilder raw(opts(kLinkRaw));
  const Bytes a = ether.udpFrame(kDataPort, pointPayload(1, 0));
  const Bytes b = sll2.udpFrame(kDataPort, pointPayload(2, 430));
  const Bytes c = raw.udpFrame(kDataPort, pointPayload(3, 860));
  const Bytes d = raw.udpFrame(kDataPort, pointPayload(4, 1290));

  PcapngBuilder ng(true);
  ng.section();
  ng.interface(kLinkEthernet, 65535);
  ng.interface(kLinkLinuxSll2, 0, concat(ng.option(9, {9}), ng.option(14, ng.u64Value(100))));
  ng.enhanced(0, 1000000, a);          // microseconds by default: 1 s
  ng.block(0x80000001, Bytes(13, 1));  // a custom block is no record
  ng.enhanced(1, 5, b);                // ns since the 100 s offset
  ng.enhanced(7, 0, a);                // no such interface
  ng.setLittle(false);
  ng.section();
  ng.interface(kLinkRaw, 65535, ng.option(9, {0x94}));  // 2^-20 s
  ng.simple(c);
  ng.enhanced(0, 3u << 19, d);  // 1.5 s
  ng.enhanced(1, 0, d);         // interface 1 belonged to the first section

  const Index index = indexOf(ng.bytes());
  EXPECT_EQ(index.format, "pcapng");
  EXPECT_EQ(index.records, 6u);
  EXPECT_EQ(index.skipped, 2u);
  ASSERT_EQ(index.pointPackets.size(), 4u);
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(packetTimestamp(index.pointPackets[i]), i + 1);
  EXPECT_EQ(index.firstPointTimeNs, 1000000000u);
  EXPECT_EQ(index.lastPointTimeNs, 1500000000u);
}

TEST(CaptureFormat, PcapngDamageAndSnaplenStopOrSkip) {
  FixtureBuilder ether(opts(kLinkEthernet));
  const Bytes frame = ether.udpFrame(kDataPort, pointPayload(1, 0));
  const struct {
    const char* name;
    std::string tail;  // bytes after one good packet
    uint64_t records;
    bool damaged;
  } cases[] = {
      {"block length not a multiple of 4", std::string("\x06\0\0\0\x0d\0\0\0\0\0\0\0", 12), 1,
       true},
      {"block length below 12", std::string("\x06\0\0\0\x08\0\0\0\0\0\0\0", 12), 1, true},
      {"section without byte-order magic",
       std::string("\x0a\x0d\x0d\x0a\x1c\0\0\0", 8) + std::string(20, '\0'), 1, true},
  };
  for (const auto& c : cases) {
    PcapngBuilder ng(true);
    ng.section();
    ng.interface(kLinkEthernet, 65535);
    ng.enhanced(0, 0, frame);
    ng.raw(c.tail);
    ng.enhanced(0, 0, frame);  // beyond the damage: not read
    const Index index = indexOf(ng.bytes());
    EXPECT_EQ(index.records, c.records) << c.name;
    EXPECT_EQ(index.damaged, c.damaged) << c.name;
    EXPECT_EQ(index.pointPackets.size(), 1u) << c.name;
  }
  // A simple packet block holds no captured length: the interface's snaplen cuts the frame.
  PcapngBuilder ng(true);
  ng.section();
  ng.interface(kLinkEthernet, 100);
  ng.simple(frame);
  const Index index = indexOf(ng.bytes());
  EXPECT_EQ(index.records, 1u);
  EXPECT_EQ(index.skipped, 1u);
}

TEST(CaptureFormat, ProgressReachesTheEnd) {
  FixtureBuilder builder(opts(kLinkEthernet));
  fillMixed(builder, 8000);  // about 10 MB: several 4 MB steps
  const std::string bytes = builder.bytes();
  std::vector<size_t> calls;
  Index index;
  std::string error;
  ASSERT_TRUE(indexCapture(bytesOf(bytes), bytes.size(), &index, &error,
                           [&calls](size_t done) { calls.push_back(done); }));
  ASSERT_GE(calls.size(), 3u);
  EXPECT_TRUE(std::is_sorted(calls.begin(), calls.end()));
  EXPECT_EQ(calls.back(), bytes.size());
  // The index is the only heap memory of an open capture: well under 2 % of the file.
  EXPECT_LT(index.pointPackets.capacity() * sizeof(void*), bytes.size() / 100);
}

// File headers are checked by libpcap reading every variant above; this checks the frame.
TEST(CaptureWriter, UdpFraming) {
  // IPv4 header: valid checksum, lengths, addresses and ports.
  FixtureBuilder builder(opts(kLinkEthernet, false, false, false, 1));
  const Bytes frame = builder.udpFrame(kDataPort, pointPayload(0, 0));
  ASSERT_EQ(frame.size(), 18 + 28 + kPacketSize);
  const uint8_t* ip = frame.data() + 18;
  EXPECT_EQ(ipv4Checksum(ip, 20), 0);
  EXPECT_EQ(ip[2] << 8 | ip[3], int(28 + kPacketSize));
  EXPECT_EQ(ip[12], 127);
  EXPECT_EQ(ip[15], 2);
  EXPECT_EQ(ip[19], 1);
  EXPECT_EQ(ip[22] << 8 | ip[23], kDataPort);
  EXPECT_EQ(ip[24] << 8 | ip[25], int(8 + kPacketSize));
}

TEST(CaptureWriter, RejectsWhatItCannotWrite) {
  std::ostringstream out;
  CaptureWriter ipv6(out, opts(kLinkIpv6));
  const Bytes payload(65508);
  EXPECT_FALSE(ipv6.writeUdp(0, kLidarIp, 1, kHostIp, 2, payload.data(), 10));
  CaptureWriter raw(out, opts(kLinkRaw));
  EXPECT_FALSE(raw.writeUdp(0, kLidarIp, 1, kHostIp, 2, payload.data(), 65508));  // > 65535
  EXPECT_TRUE(raw.writeUdp(0, kLidarIp, 1, kHostIp, 2, payload.data(), 65507));
  EXPECT_FALSE(raw.writeRecord(0, payload.data(), 10, 9));                   // origlen below caplen
  EXPECT_FALSE(raw.writeRecord(uint64_t(1) << 62, payload.data(), 10, 10));  // past 2106
  EXPECT_EQ(raw.recordsWritten(), 1u);
  EXPECT_FALSE(CaptureWriter(out, opts(kLinkEthernet, false, false, false, 3)).ok());

  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  CaptureWriter failing(broken);
  EXPECT_FALSE(failing.ok());
  EXPECT_FALSE(failing.writeRecord(0, payload.data(), 10, 10));
}

TEST(CaptureWriter, SnaplenCutsRecordsButKeepsTheWireLength) {
  WriterOptions o = opts(kLinkEthernet);
  o.snaplen = 100;
  FixtureBuilder builder(o);
  builder.writer().writeUdp(kStartNs, kLidarIp, 2368, kHostIp, 2368, pointPayload(0, 0).data(),
                            kPacketSize);
  const std::string path = dataPath("capture_snaplen.pcap");
  writeFile(path, builder.bytes());
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(path.c_str(), error);
  ASSERT_NE(p, nullptr) << error;
  pcap_pkthdr* h;
  const u_char* data;
  ASSERT_EQ(pcap_next_ex(p, &h, &data), 1);
  EXPECT_EQ(h->caplen, 100u);
  EXPECT_EQ(h->len, kLegacyRecordSize);
  pcap_close(p);
  const std::string bytes = builder.bytes();
  EXPECT_EQ(indexOf(bytes).skipped, 1u);
}

std::vector<const uint8_t*> pointers(const std::vector<Bytes>& packets) {
  std::vector<const uint8_t*> out;
  for (const Bytes& p : packets) out.push_back(p.data());
  return out;
}

// Packets whose first-block azimuths follow the given hundredths of a degree.
std::vector<Bytes> withAzimuths(const std::vector<int>& azimuths) {
  std::vector<Bytes> packets;
  for (size_t i = 0; i < azimuths.size(); ++i) {
    packets.push_back(pointPayload(uint32_t(i), uint16_t(azimuths[i])));
  }
  return packets;
}

std::vector<int> steps(int count, int first, int step) {
  std::vector<int> a;
  for (int i = 0; i < count; ++i) a.push_back((first + i * step) % 36000);
  return a;
}

TEST(RevolutionEstimate, FromFirstBlockAzimuths) {
  std::vector<int> gaps = steps(40, 0, 430);
  gaps[20] = (gaps[19] + 1200) % 36000;  // a 12-degree jump (lost packets) is left out
  std::vector<int> window = steps(31, 0, 100);
  for (int i = 10; i <= 30; ++i) window[i] = 10000 + (i - 10) * 430;  // only 10..30 count
  std::vector<int> invalid = steps(40, 0, 430);
  invalid[15] = 65535;  // an azimuth above 360 degrees gives no usable step
  const struct {
    const char* name;
    std::vector<int> azimuths;
    int expected;
  } cases[] = {
      {"4.30 degrees per packet", steps(3000, 0, 430), 84},
      {"wrap past 360 counts +360", steps(40, 35500, 430), 84},
      {"steps of 9.7 or more ignored", gaps, 84},
      {"only packets 10..30", window, 84},
      {"9.69 is usable", steps(40, 0, 969), 38},
      {"9.70 is not", steps(40, 0, 970), kDefaultPacketsPerFrame},
      {"fewer than 31 packets use every pair", steps(12, 0, 430), 84},
      {"two packets", steps(2, 0, 200), 181},
      {"one packet", steps(1, 0, 430), kDefaultPacketsPerFrame},
      {"no packets", {}, kDefaultPacketsPerFrame},
      {"device standing still", steps(40, 500, 0), kDefaultPacketsPerFrame},
      {"out-of-range azimuth", invalid, 84},
  };
  for (const auto& c : cases) {
    const std::vector<Bytes> packets = withAzimuths(c.azimuths);
    EXPECT_EQ(estimatePacketsPerFrame(pointers(packets)), c.expected) << c.name;
  }
}

TEST(RevolutionEstimate, FrameCount) {
  EXPECT_EQ(frameCountFor(3000, 84), 36);  // 35 full revolutions and a remainder
  EXPECT_EQ(frameCountFor(84 * 35, 84), 35);
  EXPECT_EQ(frameCountFor(1, 84), 1);
  EXPECT_EQ(frameCountFor(0, 30), 0);
  EXPECT_EQ(frameCountFor(10, 0), 10);
}

class CaptureFileTest : public ::testing::Test {
 protected:
  static std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = dataPath(name);
    writeFile(path, bytes);
    return path;
  }
};

TEST_F(CaptureFileTest, ErrorTexts) {
  const std::string dir = dataPath("capture_dir");
  mkdir(dir.c_str(), 0755);
  const std::string fifo = dataPath("capture_fifo");
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const struct {
    std::string path;
    std::string text;
  } cases[] = {
      {dataPath("capture_missing.pcap"), "no such file"},
      {dir, "it is a directory"},
      {fifo, "not a regular file"},
      {write("capture_empty.pcap", ""), "the file is empty"},
      {write("capture_text.pcap", "hello world"), "not a capture file: unknown magic number"},
  };
  for (const auto& c : cases) {
    CaptureFile file;
    EXPECT_FALSE(file.open(c.path));
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.errorString().rfind("Cannot open \"" + c.path + "\": " + c.text, 0), 0u)
        << file.errorString();
  }
}

TEST_F(CaptureFileTest, PermissionDenied) {
  FixtureBuilder builder(opts(kLinkEthernet));
  const std::string path = write("capture_private.pcap", builder.bytes());
  ASSERT_EQ(chmod(path.c_str(), geteuid() == 0 ? 0600 : 0), 0);
  // Root reads anything: the open is tried by a child that dropped to an unprivileged user.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    CaptureFile file;
    const bool opened = file.open(path);
    _exit(!opened && file.errorString() == "Cannot open \"" + path + "\": permission denied" ? 0
                                                                                             : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(CaptureFileTest, CaptureWithoutPointDataOpens) {
  FixtureBuilder builder(opts(kLinkEthernet));
  builder.device(1);
  builder.junk(Junk::kShortUdp, 2);
  CaptureFile file;
  ASSERT_TRUE(file.open(write("capture_device_only.pcap", builder.bytes())));
  EXPECT_EQ(file.pointCount(), 0u);
  EXPECT_EQ(file.index().devicePackets.size(), 1u);
  EXPECT_EQ(file.summary(), "pcap: 0 point data packets, 1 device packets, 1 other of 2 records");
}

TEST_F(CaptureFileTest, PointersStayValidAcrossMoves) {
  FixtureBuilder builder(opts(kLinkEthernet, true, false, true));
  fillMixed(builder, 50);
  builder.point(999, 0);
  std::string bytes = builder.bytes();
  bytes.resize(bytes.size() - 3);  // cut inside the last point's block
  const std::string path = write("capture_move.pcapng", bytes);
  const Expected& want = builder.expected();

  CaptureFile first;
  std::vector<size_t> progress;
  ASSERT_TRUE(first.open(path, [&](size_t done, size_t total) {
    EXPECT_EQ(total, bytes.size());
    progress.push_back(done);
  }));
  EXPECT_EQ(progress.back(), bytes.size());
  EXPECT_TRUE(first.index().truncated);
  EXPECT_NE(first.summary().find("; the file ends inside a record"), std::string::npos);
  const std::vector<const uint8_t*> before = first.index().pointPackets;

  CaptureFile second(std::move(first));
  EXPECT_FALSE(first.isOpen());  // NOLINT(bugprone-use-after-move): moved-from state is defined
  EXPECT_EQ(first.pointCount(), 0u);
  CaptureFile third;
  third = std::move(second);
  ASSERT_EQ(third.index().pointPackets, before);
  ASSERT_EQ(third.pointCount(), want.points.size() - 1);
  for (size_t i = 0; i < third.pointCount(); ++i) {
    ASSERT_EQ(std::memcmp(third.pointPacket(i), want.points[i].data(), kPacketSize), 0) << i;
  }
  // Reopening the moved-from object must not unmap the mapping now owned by third.
  EXPECT_TRUE(second.open(path));  // NOLINT(bugprone-use-after-move)
  second.close();
  EXPECT_EQ(std::memcmp(third.pointPacket(0), want.points[0].data(), kPacketSize), 0);
}

}  // namespace
}  // namespace tovik::capture
