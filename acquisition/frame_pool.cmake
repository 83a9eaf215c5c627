# Hand-over of revolutions between threads through a bounded pool of shared frames (I/O).
target_sources(tovik16_io PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/frame_pool.h
  ${CMAKE_CURRENT_LIST_DIR}/frame_pool.cpp
)
