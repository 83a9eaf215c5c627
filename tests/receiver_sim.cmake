# The live receivers fed by the simulated lidar over loopback.
if(TARGET tovik16_sim)
  tovik_add_gtest(receiver_sim_test SOURCES receiver_sim_test.cpp LIBS tovik16_io tovik16_sim)
endif()
