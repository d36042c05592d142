# The example settings must not change what the daemon does, and the values they show must be
# its defaults: the settings the daemon takes from docs/vektamanager.ini, once as it is and
# once with every ";Key=value" line taken in, must be those of an empty file.
#   -DSOURCE_DIR=... -DWORK_DIR=... -DREPORT=settings_report

cmake_policy(VERSION 3.20)

set(example ${SOURCE_DIR}/docs/vektamanager.ini)
set(empty ${WORK_DIR}/settings.empty.ini)
set(taken_in ${WORK_DIR}/settings.taken-in.ini)
file(WRITE ${empty} "")
file(READ ${example} text)
string(REGEX REPLACE "(^|\n);([A-Za-z][A-Za-z0-9]*=)" "\\1\\2" text "${text}")
file(WRITE ${taken_in} "${text}")

# The defaults of the log directory and of a user's settings depend on the user and on these.
unset(ENV{XDG_STATE_HOME})
unset(ENV{XDG_CONFIG_HOME})

function(report file out)
  execute_process(COMMAND ${REPORT} ${file} RESULT_VARIABLE rc OUTPUT_FILE ${out}
                  ERROR_VARIABLE errors)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "settings_report ${file} failed (${rc}): ${errors}")
  endif()
endfunction()

report(${empty} ${WORK_DIR}/settings.empty.txt)
report(${example} ${WORK_DIR}/settings.example.txt)
report(${taken_in} ${WORK_DIR}/settings.taken-in.txt)

find_program(DIFF diff)
set(failures "")
foreach(variant example taken-in)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/settings.empty.txt
                          ${WORK_DIR}/settings.${variant}.txt RESULT_VARIABLE differs)
  if(differs EQUAL 0)
    continue()
  endif()
  set(shown "")
  if(DIFF)
    execute_process(COMMAND ${DIFF} -u --label defaults --label ${variant}
                            ${WORK_DIR}/settings.empty.txt ${WORK_DIR}/settings.${variant}.txt
                    OUTPUT_VARIABLE shown)
  endif()
  if(variant STREQUAL "example")
    string(APPEND failures "docs/vektamanager.ini as it is changes the daemon's settings:\n")
  else()
    string(APPEND failures "docs/vektamanager.ini shows values that are not the daemon's "
                           "defaults (with every \";Key=value\" line taken in):\n")
  endif()
  string(APPEND failures "${shown}\n")
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
