# Recording the data port's traffic into capture files (libpcap live capture and dump files).
target_sources(tovik16_io PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/pcap_recorder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pcap_recorder.h
)
