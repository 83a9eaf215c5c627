# Decode throughput of revolution assembly; build with -DCMAKE_BUILD_TYPE=Release.
tovik_add_bench(bench_assembly SOURCES bench_assembly.cpp)
