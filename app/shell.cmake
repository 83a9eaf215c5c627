# The main window and the viewer executable.
target_sources(tovik16_gui PRIVATE
  manwindow.cpp
  manwindow.h
  manwindow_offline.cpp
  manwindow_view.cpp
  status_health.cpp
  status_health.h
)

add_executable(tovik16-viewer main.cpp)
target_link_libraries(tovik16-viewer PRIVATE tovik16_gui ${PCL_LIBRARIES})
