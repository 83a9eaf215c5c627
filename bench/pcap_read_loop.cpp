// The anchor of bench/convert_throughput.sh: libpcap's own read loop over a capture file, every
// record read with pcap_next_ex and its bytes summed, nothing decoded.
//
//   pcap_read_loop FILE
#include <pcap/pcap.h>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CAPTURE\n", argv[0]);
    return 2;
  }
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(argv[1], error);
  if (!p) {
    std::fprintf(stderr, "%s\n", error);
    return 3;
  }
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  uint64_t records = 0, sum = 0;
  while (pcap_next_ex(p, &header, &data) == 1) {
    ++records;
    sum += data[header->caplen - 1];  // touch the record so that it is really read
  }
  pcap_close(p);
  std::printf("records: %llu (%llu)\n", static_cast<unsigned long long>(records),
              static_cast<unsigned long long>(sum));
  return 0;
}
