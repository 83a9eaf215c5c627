# Revolution index: seeking in a capture by revolution.
tovik_add_gtest(revolution_index_test SOURCES revolution_index_test.cpp)
