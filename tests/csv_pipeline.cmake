# convert_test also runs the converter's pipeline in-process.
if(TARGET convert_test)
  target_link_libraries(convert_test PRIVATE tovik16_convert)
endif()
