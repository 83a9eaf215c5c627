# Recording: the Record button's controller and the window's slot.
target_sources(tovik16_gui PRIVATE
  manwindow_record.cpp
  record_controller.cpp
  record_controller.h
)
