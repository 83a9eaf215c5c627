# The two mode windows (sensor type for playback, live decoding modes). Forms live in forms/.
if(TARGET tovik16_gui)
  target_sources(tovik16_gui PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/SelectLidar.h
    ${CMAKE_CURRENT_LIST_DIR}/SelectLidar.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SetLidarModes.h
    ${CMAKE_CURRENT_LIST_DIR}/SetLidarModes.cpp
  )
endif()
