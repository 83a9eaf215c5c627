# The tovik16 Python package, tested with pytest against the module in the build tree: arrays
# against the converter's CSV, seeking, live revolutions from the simulator on free ports, the
# examples.
if(TARGET tovik16_python)
  add_test(NAME python_tests
    COMMAND ${TOVIK_PYTHON_EXECUTABLE} -m pytest -p no:cacheprovider -ra
            ${PROJECT_SOURCE_DIR}/python/tests
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(python_tests PROPERTIES
    TIMEOUT 900
    ENVIRONMENT "PYTHONPATH=${PROJECT_BINARY_DIR}/python;TOVIK_SIM=$<TARGET_FILE:tovik16-sim>;TOVIK_CONVERT=$<TARGET_FILE:tovik16-convert>;MPLBACKEND=Agg;PYTHONDONTWRITEBYTECODE=1")
endif()
