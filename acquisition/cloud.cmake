# Point cloud files (PCD, PLY) of revolutions: the core's points through PCL's writers. PCL stays
# out of the header, so users of the library need no PCL include paths.
find_package(PCL 1.10 REQUIRED COMPONENTS common io)
add_library(tovik16_cloud STATIC
  ${CMAKE_CURRENT_LIST_DIR}/cloud_file.h
  ${CMAKE_CURRENT_LIST_DIR}/cloud_file.cpp
)
target_link_libraries(tovik16_cloud PUBLIC tovik16_core PRIVATE ${PCL_LIBRARIES})
target_include_directories(tovik16_cloud SYSTEM PRIVATE ${PCL_INCLUDE_DIRS})
target_compile_definitions(tovik16_cloud PRIVATE ${PCL_DEFINITIONS})
