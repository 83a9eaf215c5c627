# Revolution assembly over arbitrary packet streams, all four decodings. Useful inputs span many
# packets: run with -max_len=65536 or more.
#
# The assembly sources are compiled into the target itself so that they carry the coverage
# instrumentation that guides the fuzzer (and the sanitizers); the copies in tovik16_core are
# then not linked.
tovik_add_fuzzer(fuzz_assembly SOURCES
  fuzz_assembly.cpp
  ${PROJECT_SOURCE_DIR}/acquisition/revolution_assembler.cpp
  ${PROJECT_SOURCE_DIR}/acquisition/lidar_data.cpp)
target_compile_options(fuzz_assembly PRIVATE -fsanitize=address,undefined
  -fno-sanitize-recover=undefined)
target_link_options(fuzz_assembly PRIVATE -fsanitize=address,undefined)
