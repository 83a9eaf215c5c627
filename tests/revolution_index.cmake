# Revolution index: seeking in a capture by revolution.
tovik_add_gtest(revolution_index_test SOURCES revolution_index_test.cpp)
if(TARGET tovik16_sim)
  tovik_add_gtest(capture_description_test SOURCES capture_description_test.cpp LIBS tovik16_sim)
endif()
