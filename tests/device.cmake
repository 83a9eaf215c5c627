# Device information packet decoding and text forms (core), and the receiver thread over loopback.
tovik_add_gtest(device_test SOURCES device_test.cpp)
tovik_add_gtest(getset_test SOURCES getset_test.cpp LIBS tovik16_io)
if(TARGET tovik16_gui)
  target_compile_definitions(getset_test PRIVATE TOVIK_HAVE_DEVICE_CAPTURE=1)
endif()
