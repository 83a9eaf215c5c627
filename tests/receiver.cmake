# The live point receivers end to end over loopback.
tovik_add_gtest(receiver_test SOURCES receiver_test.cpp LIBS tovik16_io)
