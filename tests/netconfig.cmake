# The network configuration datagram (core), and the network settings and About windows; the
# settings window's end-to-end case runs the simulated lidar over loopback.
tovik_add_gtest(network_config_packet_test SOURCES network_config_packet_test.cpp)
if(TARGET tovik16_gui)
  tovik_add_gui_test(inetaction_test SOURCES inetaction_test.cpp LIBS tovik16_sim)
  # Binds the lidar's configuration port 2368 on loopback addresses, like the advanced windows.
  set_tests_properties(inetaction_test PROPERTIES RESOURCE_LOCK lidar_config_port)
  tovik_add_gui_test(about_test SOURCES about_test.cpp)
endif()
