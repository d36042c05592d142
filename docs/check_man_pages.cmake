# Renders each manual page of docs/man with every groff warning on; fails on any warning, on a
# NAME section that whatis cannot read, and on a version in .TH that is not the project's.
#   -DSOURCE_DIR=... -DMAN=man-or-NOTFOUND -DGROFF=groff-or-NOTFOUND -DVERSION=1.5.0.15

cmake_policy(VERSION 3.20)

file(GLOB pages ${SOURCE_DIR}/docs/man/*.[1-8])
if(NOT pages)
  message(FATAL_ERROR "no manual pages in ${SOURCE_DIR}/docs/man")
endif()
if(NOT MAN AND NOT GROFF)
  message(FATAL_ERROR "neither man nor groff is installed (Debian: man-db, groff-base)")
endif()
find_program(LEXGROG lexgrog)

# The same lines on every machine: UTF-8 input and output, 80 columns.
set(ENV{LC_ALL} C.UTF-8)
set(ENV{MANWIDTH} 80)
set(ENV{MAN_KEEP_FORMATTING} "")

set(failures "")
foreach(page ${pages})
  get_filename_component(name ${page} NAME)
  if(MAN)
    execute_process(COMMAND ${MAN} --warnings=w -E UTF-8 -l ${page}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
  else()
    execute_process(COMMAND ${GROFF} -k -ww -man -Tutf8 ${page}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE warnings)
  endif()
  if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
    string(APPEND failures "${name}: rendering gave exit code ${rc} and:\n${warnings}\n")
  elseif(text STREQUAL "")
    string(APPEND failures "${name}: rendered to nothing\n")
  endif()

  file(STRINGS ${page} th REGEX "^\\.TH ")
  string(REPLACE "." "\\." version_pattern "${VERSION}")
  if(NOT th MATCHES "\"VektaManager ${version_pattern}\"")
    string(APPEND failures
      "${name}: the .TH line does not name \"VektaManager ${VERSION}\" (the project version): ${th}\n")
  endif()

  if(LEXGROG)
    execute_process(COMMAND ${LEXGROG} ${page} RESULT_VARIABLE rc OUTPUT_VARIABLE whatis
                    ERROR_VARIABLE whatis)
    if(NOT rc EQUAL 0)
      string(APPEND failures "${name}: whatis cannot read its NAME section: ${whatis}\n")
    endif()
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
