# Recording keeps up with the dual-return stream (needs root or CAP_NET_RAW).
if(TARGET tovik16_sim)
  tovik_add_bench(bench_recording SOURCES bench_recording.cpp LIBS tovik16_io tovik16_sim)
endif()
