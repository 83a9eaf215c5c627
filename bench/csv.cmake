tovik_add_bench(bench_csv SOURCES bench_csv.cpp)
