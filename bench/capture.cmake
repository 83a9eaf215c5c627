tovik_add_bench(bench_capture SOURCES bench_capture.cpp LIBS tovik16_io PkgConfig::PCAP)
