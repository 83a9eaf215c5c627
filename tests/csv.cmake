tovik_add_gtest(csv_writer_test SOURCES csv_writer_test.cpp)

if(TARGET tovik16-convert)
  # PCD and PLY files are read back with PCL's own readers.
  find_package(PCL 1.10 REQUIRED COMPONENTS common io)
  tovik_add_gtest(convert_test SOURCES convert_test.cpp LIBS tovik16_io ${PCL_LIBRARIES})
  target_include_directories(convert_test SYSTEM PRIVATE ${PCL_INCLUDE_DIRS})
  target_compile_definitions(convert_test PRIVATE
    TOVIK_CONVERT_EXE="$<TARGET_FILE:tovik16-convert>")
  add_dependencies(convert_test tovik16-convert)
  # The simulated lidar's captures, when the simulator library is part of the build.
  if(TARGET tovik16_sim)
    target_link_libraries(convert_test PRIVATE tovik16_sim)
    target_compile_definitions(convert_test PRIVATE TOVIK_HAVE_SIM=1)
  endif()
endif()
