# Capture files: parsing and writing in the core, the memory-mapped file in the I/O layer.
target_sources(tovik16_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/capture_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pcap_writer.cpp
)
target_sources(tovik16_io PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/capture_file.cpp
)
