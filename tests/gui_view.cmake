# The drawing pipeline: the revolution pass and the point table as plain GoogleTest executables,
# the 3D view as a QtTest in a virtual X display.
if(TARGET tovik16_gui)
  tovik_add_gtest(revolution_pass_test SOURCES revolution_pass_test.cpp LIBS tovik16_gui)
  tovik_add_gtest(point_table_test SOURCES point_table_test.cpp LIBS tovik16_gui)
  tovik_add_gui_test(point_cloud_view_test
    SOURCES point_cloud_view_test.cpp)
endif()
