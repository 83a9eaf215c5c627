# Capture rights: the remedy named by capture failures.
target_sources(tovik16_io PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/capture_rights.cpp
  ${CMAKE_CURRENT_LIST_DIR}/capture_rights.h
)
