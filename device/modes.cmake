target_sources(tovik16_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/device_modes.cpp
)
