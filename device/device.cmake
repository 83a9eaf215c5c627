# Device information packet: record, Mac vector, text forms (core) and the receiver thread (I/O).
target_sources(tovik16_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/setting_data.h
  ${CMAKE_CURRENT_LIST_DIR}/setting_data.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_text.h
  ${CMAKE_CURRENT_LIST_DIR}/device_text.cpp
)
target_sources(tovik16_io PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/GetSet.h
  ${CMAKE_CURRENT_LIST_DIR}/GetSet.cpp
)
