# The simulated lidar: packets, device packet, scene, configuration, captures, loopback runner.
tovik_add_gtest(sim_test SOURCES sim_test.cpp LIBS tovik16_sim PkgConfig::PCAP)
add_dependencies(sim_test tovik16-sim)
target_compile_definitions(sim_test PRIVATE TOVIK_SIM_EXE="$<TARGET_FILE:tovik16-sim>")
