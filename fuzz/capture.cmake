tovik_add_fuzzer(fuzz_capture SOURCES fuzz_capture.cpp)
# Seed corpus where scripts/run-fuzzers.sh looks for it: small valid captures of every variant.
add_custom_command(TARGET fuzz_capture POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/corpus-fuzz_capture
  COMMAND ${CMAKE_COMMAND} -E env
          TOVIK_FUZZ_WRITE_SEEDS=${CMAKE_CURRENT_BINARY_DIR}/corpus-fuzz_capture
          $<TARGET_FILE:fuzz_capture>
  VERBATIM)
