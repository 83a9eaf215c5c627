# The settings, vertical angle, save-data options and About windows.
target_sources(tovik16_gui PRIVATE
  About.cpp
  About.h
  SaveDataOptions.cpp
  SaveDataOptions.h
)
