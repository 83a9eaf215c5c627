# Decoding core: packet fields, revolution assembly and point geometry.
tovik_add_gtest(assembler_test SOURCES assembler_test.cpp)
tovik_add_gtest(geometry_test SOURCES geometry_test.cpp)
