# Turns a file into a C++ source holding its bytes:
#   cmake -DINPUT=in -DOUTPUT=out.cpp -DSYMBOL=kName -P embed.cmake
# The source defines `const unsigned char SYMBOL[]` and `const std::size_t SYMBOLSize`
# in namespace vekta::embedded.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],0x[0-9a-f][0-9a-f],)" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT}; do not edit.\n#include <cstddef>\nnamespace vekta::embedded {\nextern const unsigned char ${SYMBOL}[];\nextern const std::size_t ${SYMBOL}Size;\nconst unsigned char ${SYMBOL}[] = {\n${bytes}0x00};\nconst std::size_t ${SYMBOL}Size = ${size};\n}  // namespace vekta::embedded\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
