# Keyboard shortcuts of the main window and the Help window that lists them.
target_sources(tovik16_gui PRIVATE
  shortcuts.cpp
  shortcuts.h
  shortcuts_help.cpp
  shortcuts_help.h
)
