# Channel selection window (Form_QLaserSelection).
target_sources(tovik16_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Form_QLaserSelection.h
  ${CMAKE_CURRENT_LIST_DIR}/Form_QLaserSelection.cpp
)
