# The drawing pipeline: the revolution pass, the point table and the 3D view. Only
# point_cloud_view.cpp (and main.cpp) include PCL and VTK; they are slow to compile.
target_sources(tovik16_gui PRIVATE
  revolution_pass.cpp
  revolution_pass.h
  point_table.cpp
  point_table.h
  point_cloud_view.cpp
  point_cloud_view.h
)
target_include_directories(tovik16_gui SYSTEM PUBLIC ${PCL_INCLUDE_DIRS})
target_link_libraries(tovik16_gui PUBLIC ${PCL_LIBRARIES})
