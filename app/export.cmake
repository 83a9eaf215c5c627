# CSV export from the viewer: the export state and the main window's export slot and pass.
target_sources(tovik16_gui PRIVATE
  csv_export.cpp
  csv_export.h
  manwindow_export.cpp
)
# PCD/PLY export from the viewer: the points of the shown revolution or of the selection, written
# by the core cloud writer.
target_sources(tovik16_gui PRIVATE
  cloud_export.cpp
  cloud_export.h
)
target_link_libraries(tovik16_gui PUBLIC tovik16_cloud)
