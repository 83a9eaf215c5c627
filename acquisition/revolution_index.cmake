# Revolution index: seeking by revolution in forward offline decoding (core), and what a capture's
# device packets say about its decoding (core).
target_sources(tovik16_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/revolution_index.h
  ${CMAKE_CURRENT_LIST_DIR}/revolution_index.cpp
  ${CMAKE_CURRENT_LIST_DIR}/capture_description.h
  ${CMAKE_CURRENT_LIST_DIR}/capture_description.cpp
)
