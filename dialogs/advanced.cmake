# Advanced settings and vertical angles: the packet builders and the settings file in the core,
# the live capture of a device packet in the I/O layer.
target_sources(tovik16_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/acwp_packet.h
  ${CMAKE_CURRENT_LIST_DIR}/acwp_packet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vertical_angle_packet.h
  ${CMAKE_CURRENT_LIST_DIR}/vertical_angle_packet.cpp
)
target_sources(tovik16_io PRIVATE
  ${PROJECT_SOURCE_DIR}/acquisition/device_packet_capture.h
  ${PROJECT_SOURCE_DIR}/acquisition/device_packet_capture.cpp
)
# The two windows.
target_sources(tovik16_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ACWPSettingWidget.h
  ${CMAKE_CURRENT_LIST_DIR}/ACWPSettingWidget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/VerticalAngleSetting.h
  ${CMAKE_CURRENT_LIST_DIR}/VerticalAngleSetting.cpp
)
