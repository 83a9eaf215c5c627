# tovik16_version.h: the project version (fixed at configure time) and the git revision the build
# comes from. The revision lives in one small generated source that every build refreshes, so a
# new HEAD reaches --version and the About window without reconfiguring, and only that file is
# recompiled when it changes.
set(TOVIK_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${TOVIK_GENERATED_DIR}/tovik16_version.h @ONLY)
set(TOVIK_REVISION_SOURCE ${TOVIK_GENERATED_DIR}/tovik16_revision.cpp)
find_package(Git QUIET)
add_custom_target(tovik16_revision
  COMMAND ${CMAKE_COMMAND}
    -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DGIT_EXECUTABLE=${GIT_EXECUTABLE}
    -DTEMPLATE=${CMAKE_CURRENT_LIST_DIR}/revision.cpp.in
    -DOUTPUT=${TOVIK_REVISION_SOURCE}
    -P ${CMAKE_CURRENT_LIST_DIR}/write-revision.cmake
  BYPRODUCTS ${TOVIK_REVISION_SOURCE}
  COMMENT "Reading the git revision"
  VERBATIM)
target_sources(tovik16_core PRIVATE ${TOVIK_REVISION_SOURCE})
target_include_directories(tovik16_core PUBLIC ${TOVIK_GENERATED_DIR})
add_dependencies(tovik16_core tovik16_revision)
