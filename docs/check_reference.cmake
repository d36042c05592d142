# Fails when docs/reference.md is not what make_reference makes from the member table now.
#   -DMAKE_REFERENCE=program -DSOURCE_DIR=... -DWORK_DIR=... -DBUILD_DIR=...

cmake_policy(VERSION 3.20)

set(made ${WORK_DIR}/reference.check.md)
set(checked_in ${SOURCE_DIR}/docs/reference.md)
execute_process(COMMAND ${MAKE_REFERENCE} ${made} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "make_reference failed (${rc})")
endif()
if(EXISTS ${checked_in})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${checked_in} ${made}
                  RESULT_VARIABLE differs)
  if(differs EQUAL 0)
    return()
  endif()
endif()

set(shown "")
find_program(DIFF diff)
if(DIFF AND EXISTS ${checked_in})
  execute_process(COMMAND ${DIFF} -U1 ${checked_in} ${made} OUTPUT_VARIABLE shown)
  string(LENGTH "${shown}" length)
  if(length GREATER 3000)
    string(SUBSTRING "${shown}" 0 3000 shown)
    string(APPEND shown "\n[...]")
  endif()
endif()
message(FATAL_ERROR
  "docs/reference.md is out of date: the member table (service/member_table.cpp) or "
  "docs/make_reference.cpp changed since it was made.\n${shown}\n"
  "Refresh it with\n"
  "  cmake --build ${BUILD_DIR} --target docs_reference_update\n"
  "(or copy ${made} over docs/reference.md) and commit it with the change.")
