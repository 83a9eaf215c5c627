# The main window: form, wiring, the connect flow against the simulated lidar, the redraw.
if(TARGET tovik16_gui)
  tovik_add_gui_test(mainwindow_test
    SOURCES mainwindow_test.cpp LIBS tovik16_sim)
endif()
