# Decode throughput of revolution assembly and the hand-over of revolutions between threads;
# build with -DCMAKE_BUILD_TYPE=Release.
tovik_add_bench(bench_assembly SOURCES bench_assembly.cpp LIBS tovik16_io)
