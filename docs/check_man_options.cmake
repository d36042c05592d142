# Every option (--name) and switch (/Name) that a program's --help names must be in its
# manual page: a new option without its documentation fails here.
#   -DSOURCE_DIR=... -DPROGRAMS="vektamanager=/path/vektamanager|vektactl=/path/vektactl|..."

cmake_policy(VERSION 3.20)

string(REPLACE "|" ";" programs "${PROGRAMS}")
set(failures "")
foreach(entry ${programs})
  string(REGEX MATCH "^([^=]+)=(.*)$" pair "${entry}")
  set(name ${CMAKE_MATCH_1})
  set(program ${CMAKE_MATCH_2})
  file(GLOB page ${SOURCE_DIR}/docs/man/${name}.[1-8])
  if(NOT page)
    string(APPEND failures "${name}: no manual page docs/man/${name}.N\n")
    continue()
  endif()
  execute_process(COMMAND ${program} --help RESULT_VARIABLE rc OUTPUT_VARIABLE help
                  ERROR_VARIABLE help_errors)
  if(NOT rc EQUAL 0 OR help STREQUAL "")
    string(APPEND failures "${name} --help failed (${rc}): ${help_errors}\n")
    continue()
  endif()

  # The page as text: font changes and zero-width escapes out, \- as -, \e as \.
  file(READ ${page} text)
  string(REGEX REPLACE "\\\\f[BIRP]" "" text "${text}")
  string(REPLACE "\\&" "" text "${text}")
  string(REPLACE "\\|" "" text "${text}")
  string(REPLACE "\\-" "-" text "${text}")
  string(REPLACE "\\e" "\\" text "${text}")

  string(REGEX MATCHALL "--[a-z][a-z0-9-]*|/[A-Z][a-z]+" named "${help}")
  list(REMOVE_DUPLICATES named)
  foreach(option ${named})
    if(NOT text MATCHES "(^|[^A-Za-z0-9-])${option}([^A-Za-z0-9-]|$)")
      string(APPEND failures "${name}: ${option} is in --help but not in ${page}\n")
    endif()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
