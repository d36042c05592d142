# docs/vektamanager.ini must name every settings key the code reads, in its section, and no
# key the code does not read; and every value in it must be commented out, so that a package
# that installs it as is leaves the defaults.
#   -DSOURCE_DIR=...

cmake_policy(VERSION 3.20)

set(example ${SOURCE_DIR}/docs/vektamanager.ini)

# The keys the code reads: ReadString / ReadConfigDword with a literal section and key.
# A section read with a key that is not literal ([Ports] COMn) takes any key.
set(read_keys "")
set(open_sections "")
file(GLOB_RECURSE sources
     ${SOURCE_DIR}/platform/*.cpp ${SOURCE_DIR}/platform/*.h
     ${SOURCE_DIR}/link/*.cpp ${SOURCE_DIR}/link/*.h
     ${SOURCE_DIR}/fiscal/*.cpp ${SOURCE_DIR}/fiscal/*.h
     ${SOURCE_DIR}/service/*.cpp ${SOURCE_DIR}/service/*.h
     ${SOURCE_DIR}/app/*.cpp ${SOURCE_DIR}/app/*.h
     ${SOURCE_DIR}/client/*.cpp ${SOURCE_DIR}/client/*.h)
set(ws "[ \t\r\n]*")
foreach(source ${sources})
  file(READ ${source} code)
  string(REGEX MATCHALL "Read(String|ConfigDword)\\(${ws}\"[A-Za-z0-9]+\",${ws}\"[A-Za-z0-9]+\""
         calls "${code}")
  foreach(call ${calls})
    string(REGEX MATCH "\"([A-Za-z0-9]+)\",${ws}\"([A-Za-z0-9]+)\"" pair "${call}")
    list(APPEND read_keys "${CMAKE_MATCH_1}/${CMAKE_MATCH_2}")
  endforeach()
  string(REGEX MATCHALL "FindValue\\([^,()]+,${ws}\"[A-Za-z0-9]+\",${ws}[A-Za-z_]" calls "${code}")
  foreach(call ${calls})
    string(REGEX MATCH "\"([A-Za-z0-9]+)\"" section "${call}")
    list(APPEND open_sections "${CMAKE_MATCH_1}")
  endforeach()
endforeach()
list(REMOVE_DUPLICATES read_keys)
list(REMOVE_DUPLICATES open_sections)
if(NOT read_keys)
  message(FATAL_ERROR "found no settings read in the code: has the way settings are read changed? "
                      "Then change docs/check_example_config_keys.cmake with it.")
endif()

# The example's lines, with the characters that would split or group CMake list items replaced.
file(READ ${example} text)
string(REPLACE "\\" "<B>" text "${text}")
string(REPLACE ";" "<S>" text "${text}")
string(REPLACE "[" "<L>" text "${text}")
string(REPLACE "]" "<R>" text "${text}")
string(REPLACE "\r" "" text "${text}")
string(REPLACE "\n" ";" lines "${text}")

set(failures "")
set(section "")
set(sections "")
set(shown_keys "")
set(number 0)
foreach(line IN LISTS lines)
  math(EXPR number "${number} + 1")
  string(STRIP "${line}" line)
  if(line MATCHES "^<L>([A-Za-z0-9]+)<R>$")
    set(section ${CMAKE_MATCH_1})
    list(APPEND sections ${section})
  elseif(line MATCHES "^(<S>|#)?([A-Za-z][A-Za-z0-9]*)=")
    set(key ${CMAKE_MATCH_2})
    if(NOT CMAKE_MATCH_1)
      string(APPEND failures "line ${number}: ${key} is not commented out: the package must "
                             "leave the defaults\n")
    endif()
    if(line MATCHES "=.*[ \t](<S>|#)")
      string(APPEND failures "line ${number}: ${key}: a comment after a value becomes part of "
                             "the value; put it on a line of its own\n")
    endif()
    list(APPEND shown_keys "${section}/${key}")
    list(FIND read_keys "${section}/${key}" known)
    list(FIND open_sections "${section}" open)
    if(known EQUAL -1 AND open EQUAL -1)
      string(APPEND failures "line ${number}: [${section}] ${key} is not read by the daemon\n")
    endif()
  elseif(NOT line STREQUAL "" AND NOT line MATCHES "^(<S>|#)( |$)")
    string(APPEND failures "line ${number}: neither a section, a setting nor a comment "
                           "(\"; \" starts a comment, \";Key=\" a setting)\n")
  endif()
endforeach()

foreach(pair ${read_keys})
  list(FIND shown_keys "${pair}" shown)
  if(shown EQUAL -1)
    string(REPLACE "/" "] " what "[${pair}")
    string(APPEND failures "${what} is read by the daemon but not in docs/vektamanager.ini\n")
  endif()
endforeach()
foreach(open ${open_sections})
  list(FIND sections "${open}" shown)
  if(shown EQUAL -1)
    string(APPEND failures "[${open}] is read by the daemon but not in docs/vektamanager.ini\n")
  endif()
endforeach()

if(failures)
  string(REPLACE "<S>" ";" failures "${failures}")
  message(FATAL_ERROR "docs/vektamanager.ini:\n${failures}")
endif()
