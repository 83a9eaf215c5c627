# Recording: the simulated lidar recorded on the loopback interface and read back, prompt stops,
# failures, the interface choice; with the viewer library also the Record button's controller.
# Capturing needs root or CAP_NET_RAW (the capture tests skip without it).
if(TARGET tovik16_sim)
  if(TARGET tovik16_gui)
    tovik_add_gtest(recorder_test SOURCES recorder_test.cpp
      LIBS tovik16_io tovik16_sim tovik16_gui)
    target_compile_definitions(recorder_test PRIVATE TOVIK_TEST_RECORD_CONTROLLER=1)
  else()
    tovik_add_gtest(recorder_test SOURCES recorder_test.cpp LIBS tovik16_io tovik16_sim)
  endif()
endif()
