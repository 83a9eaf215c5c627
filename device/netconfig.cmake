# Network configuration datagram builder (core: no sockets).
target_sources(tovik16_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/network_config_packet.h
  ${CMAKE_CURRENT_LIST_DIR}/network_config_packet.cpp
)
