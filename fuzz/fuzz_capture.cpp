// Arbitrary bytes as a capture file. Every pointer the index returns must cover a whole packet
// inside the input: reading all its bytes lets AddressSanitizer catch one that does not.
//
// With TOVIK_FUZZ_WRITE_SEEDS=<dir> set, the target instead writes small captures of every link
// type and file variant into <dir> and exits; the build does this once so that the fuzzer starts
// from valid files rather than having to discover magics, lengths and the FF EE flag itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "acquisition/capture_format.h"
#include "acquisition/point_packet.h"
#include "capture_fixtures.h"

namespace {

void writeSeeds(const std::string& dir) {
  using namespace tovik::capture;
  using namespace tovik::capture::fixtures;
  const LinkType links[] = {kLinkEthernet, kLinkLinuxSll, kLinkLinuxSll2, kLinkNull,
                            kLinkLoop,     kLinkRaw,      kLinkIpv4};
  int n = 0;
  for (LinkType link : links) {
    for (int variant = 0; variant < 8; ++variant) {
      WriterOptions o;
      o.link = link;
      o.nanosecond = variant & 1;
      o.swapped = variant & 2;
      o.pcapng = variant & 4;
      o.vlanTags = link == kLinkEthernet ? variant % 3 : 0;
      FixtureBuilder b(o);
      b.point(1, 100);
      b.device(2);
      b.junk(kAllJunk[variant], 3);
      b.point(4, 530);
      writeFile(dir + "/seed-" + std::to_string(n++), b.bytes());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("TOVIK_FUZZ_WRITE_SEEDS")) {
    writeSeeds(dir);
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tovik::capture;
  Index index;
  std::string error;
  size_t lastProgress = 0;
  if (!indexCapture(data, size, &index, &error, [&](size_t done) { lastProgress = done; })) {
    if (error.empty()) __builtin_trap();  // a failure always says why
    return 0;
  }
  if (lastProgress != size) __builtin_trap();
  if (index.pointPackets.size() + index.devicePackets.size() + index.skipped != index.records) {
    __builtin_trap();
  }
  volatile uint8_t sink = 0;
  for (const auto* list : {&index.pointPackets, &index.devicePackets}) {
    for (const uint8_t* p : *list) {
      if (p < data || p + tovik::kPacketSize > data + size) __builtin_trap();
      for (size_t i = 0; i < tovik::kPacketSize; ++i) sink = sink ^ p[i];
    }
  }
  const int perFrame = estimatePacketsPerFrame(index.pointPackets);
  if (perFrame < 1 || frameCountFor(index.pointPackets.size(), perFrame) < 0) __builtin_trap();
  return 0;
}
