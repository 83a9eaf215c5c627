tovik_add_gtest(capture_test SOURCES capture_test.cpp LIBS tovik16_io PkgConfig::PCAP)
