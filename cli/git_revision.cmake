# Writes OUTPUT with the git revision of SOURCE_DIR ("" outside a checkout
# or without git). configure_file leaves OUTPUT alone when nothing changed.
set(LW_GIT_REVISION "")
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${SOURCE_DIR} describe --always --dirty --abbrev=10
                  OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE result ERROR_QUIET)
  if(result EQUAL 0)
    set(LW_GIT_REVISION "${revision}")
  endif()
endif()
file(WRITE ${OUTPUT}.new "#pragma once\n#define LW_GIT_REVISION \"${LW_GIT_REVISION}\"\n")
configure_file(${OUTPUT}.new ${OUTPUT} COPYONLY)
file(REMOVE ${OUTPUT}.new)
