# Turns the files of the operator page into one C++ source with a table of them:
#   cmake -DDIR=resources/web -DFILES="a.html;b.js" -DOUTPUT=out.cpp -P embed_web.cmake
# The table is vekta::embedded::kWebFiles (see app/web_assets.h).
set(arrays "")
set(rows "")
set(index 0)
foreach(name ${FILES})
  file(READ "${DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],)" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {\n${bytes}0x00};\n")
  string(APPEND rows "    {\"${name}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${DIR}; do not edit.\n#include \"app/web_assets.h\"\nnamespace vekta::embedded {\nnamespace {\n${arrays}}  // namespace\nconst EmbeddedFile kWebFiles[] = {\n${rows}    {nullptr, nullptr, 0}};\n}  // namespace vekta::embedded\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
