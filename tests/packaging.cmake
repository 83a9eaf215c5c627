# What an installed program promises: --version and --help work without a display and name the
# build; the capture-rights remedy of capture failures.
tovik_add_gtest(capture_rights_test SOURCES capture_rights_test.cpp LIBS tovik16_io)
set(TOVIK_VERSIONED_PROGRAMS $<TARGET_FILE:tovik16-convert> $<TARGET_FILE:tovik16-sim>
  $<TARGET_FILE:tovik16-monitor>)
if(TARGET tovik16-viewer)
  list(APPEND TOVIK_VERSIONED_PROGRAMS $<TARGET_FILE:tovik16-viewer>)
endif()
add_test(NAME program_versions
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/program_versions.sh ${PROJECT_VERSION}
    ${PROJECT_SOURCE_DIR} ${TOVIK_VERSIONED_PROGRAMS})
