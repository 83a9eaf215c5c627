# A capture recorded with the device packets, opened and played in the main window.
if(TARGET tovik16_gui AND TARGET tovik16_sim)
  tovik_add_gui_test(capture_description_window_test
    SOURCES capture_description_window_test.cpp LIBS tovik16_sim)
endif()
