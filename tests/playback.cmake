# Offline playback: the engine on packet tables, and the Offline tab's controls on captures.
tovik_add_gtest(playback_engine_test SOURCES playback_engine_test.cpp LIBS tovik16_io)
if(TARGET tovik16_gui)
  tovik_add_gui_test(offline_controls_test SOURCES offline_controls_test.cpp LIBS tovik16_sim)
endif()
