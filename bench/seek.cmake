# Seeking in a large capture: the revolution index and jumps through the playback engine. Needs the
# file of bench/make_big_capture.sh.
tovik_add_bench(bench_seek SOURCES bench_seek.cpp LIBS tovik16_io)
