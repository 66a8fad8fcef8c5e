# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedBytes.cmake
# Writes a C++ source defining `const unsigned char SYMBOL[]` with the bytes of INPUT and
# `const unsigned long SYMBOL_size` with their count.
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUTPUT}.tmp
  "// Generated from ${INPUT}; do not edit.\n"
  "extern const unsigned char ${SYMBOL}[];\n"
  "extern const unsigned long ${SYMBOL}_size;\n"
  "const unsigned char ${SYMBOL}[] = {\n    ${bytes}\n};\n"
  "const unsigned long ${SYMBOL}_size = ${size};\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
