# Opening a large capture as the Offline tab does. Needs the file of bench/make_big_capture.sh.
tovik_add_bench(bench_open_capture SOURCES bench_open_capture.cpp LIBS tovik16_io)
