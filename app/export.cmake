# CSV export from the viewer: the export state and the main window's export slot and pass.
target_sources(tovik16_gui PRIVATE
  csv_export.cpp
  csv_export.h
  manwindow_export.cpp
)
