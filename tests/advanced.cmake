# Advanced settings and vertical angles: the packet builders (core), the live capture of a device
# packet (I/O; its loopback cases skip without root), and the two windows, alone and against the
# simulated lidar. The builders are part of the core only when the dialogs are built.
if(TARGET tovik16_gui)
  tovik_add_gtest(acwp_packet_test SOURCES acwp_packet_test.cpp LIBS tovik16_io)
  tovik_add_gtest(vertical_angle_packet_test SOURCES vertical_angle_packet_test.cpp)
  tovik_add_gui_test(acwp_window_test SOURCES acwp_window_test.cpp LIBS tovik16_sim)
  tovik_add_gui_test(vertical_angle_window_test
    SOURCES vertical_angle_window_test.cpp LIBS tovik16_sim)
  # Engineering mode: the main window opens these windows and they work against the simulator.
  tovik_add_gui_test(engineering_mode_test SOURCES engineering_mode_test.cpp LIBS tovik16_sim)
  # They bind the lidar's configuration port 2368 on loopback addresses: never at the same time.
  set_tests_properties(acwp_window_test vertical_angle_window_test engineering_mode_test
    PROPERTIES RESOURCE_LOCK lidar_config_port)
endif()
