# End to end: bench/convert_throughput.sh times tovik16-convert against these anchors.
add_executable(pcap_read_loop pcap_read_loop.cpp)
target_link_libraries(pcap_read_loop PRIVATE PkgConfig::PCAP)
