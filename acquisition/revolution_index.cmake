#Revolution index : seeking by revolution in forward offline decoding(core).
target_sources(tovik16_core PRIVATE ${CMAKE_CURRENT_LIST_DIR} /
               revolution_index.h ${CMAKE_CURRENT_LIST_DIR} / revolution_index.cpp)
