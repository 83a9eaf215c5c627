# The settings, vertical angle, save-data options and About windows.
target_sources(tovik16_gui PRIVATE
  ACWPSettingWidget.cpp
  ACWPSettingWidget.h
  About.cpp
  About.h
  SaveDataOptions.cpp
  SaveDataOptions.h
  VerticalAngleSetting.cpp
  VerticalAngleSetting.h
)
