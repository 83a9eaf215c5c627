# The device's vertical angles from the simulated lidar to the geometry, live and recorded.
if(TARGET tovik16_sim)
  tovik_add_gtest(device_angles_test SOURCES device_angles_test.cpp LIBS tovik16_io tovik16_sim)
  add_dependencies(device_angles_test tovik16-sim)
  target_compile_definitions(device_angles_test PRIVATE TOVIK_SIM_EXE="$<TARGET_FILE:tovik16-sim>")
endif()
