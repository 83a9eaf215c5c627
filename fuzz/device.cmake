tovik_add_fuzzer(fuzz_device SOURCES fuzz_device.cpp)
