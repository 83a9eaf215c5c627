# CSV export: the save-data options window, and exports from the main window (live from the
# simulated lidar, stored revolution, compared byte for byte with tovik16-convert).
if(TARGET tovik16_gui)
  tovik_add_gui_test(save_options_test SOURCES save_options_test.cpp)
  tovik_add_gui_test(csv_export_test SOURCES csv_export_test.cpp LIBS tovik16_sim)
  if(TARGET tovik16-convert)
    target_compile_definitions(csv_export_test PRIVATE
      TOVIK_CONVERT_EXE="$<TARGET_FILE:tovik16-convert>")
    add_dependencies(csv_export_test tovik16-convert)
  endif()
endif()
