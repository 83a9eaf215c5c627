# Build step (cmake -P): writes OUTPUT from TEMPLATE with TOVIK_GIT_REVISION set to `git describe`
# of SOURCE_DIR, or "unknown" when SOURCE_DIR is not the top of a git checkout (a release tarball
# unpacked inside some other repository must not take that repository's revision). configure_file
# leaves OUTPUT untouched when the text is unchanged, so an unchanged HEAD recompiles nothing.
set(TOVIK_GIT_REVISION unknown)
if(GIT_EXECUTABLE)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} rev-parse --show-toplevel
    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(NOT failed)
    get_filename_component(top "${top}" REALPATH)
    get_filename_component(source "${SOURCE_DIR}" REALPATH)
    if(top STREQUAL source)
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --tags --always --dirty
        OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
        RESULT_VARIABLE failed)
      if(NOT failed AND described)
        set(TOVIK_GIT_REVISION "${described}")
      endif()
    endif()
  endif()
endif()
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
