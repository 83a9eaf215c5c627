if(TARGET tovik16_cloud)
  # The tests read the files back with PCL's own readers.
  find_package(PCL 1.10 QUIET COMPONENTS common io)
  tovik_add_gtest(cloud_file_test SOURCES cloud_file_test.cpp LIBS tovik16_cloud ${PCL_LIBRARIES})
  target_include_directories(cloud_file_test SYSTEM PRIVATE ${PCL_INCLUDE_DIRS})
endif()
