# The small windows (mode windows, channel selection) and the icon set, as a QtTest in a virtual
# X display; and a check that the committed icon files match their drawings.
if(TARGET tovik16_gui)
  tovik_add_gui_test(dialogs_test SOURCES dialogs_test.cpp)
  if(TARGET tovik16-make-icons)
    add_test(NAME make_icons_check
      COMMAND tovik16-make-icons --check ${PROJECT_SOURCE_DIR})
  endif()
endif()
