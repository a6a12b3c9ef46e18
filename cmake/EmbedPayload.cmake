# Validates one payload file and writes it out as a C++ array.
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -DSIZE=bytes
#         [-DLENGTH_FIELD=ON] -DWHAT="description" -P EmbedPayload.cmake
# With LENGTH_FIELD the first two bytes must hold, most significant first,
# the number of bytes after them.
if(NOT EXISTS "${INPUT}")
  message(FATAL_ERROR "${WHAT}: file not found: ${INPUT}")
endif()
if(IS_DIRECTORY "${INPUT}")
  message(FATAL_ERROR "${WHAT}: ${INPUT} is a folder, not a file")
endif()
file(SIZE "${INPUT}" actual)
if(NOT actual EQUAL SIZE)
  message(FATAL_ERROR "${WHAT}: ${INPUT} holds ${actual} bytes; it must hold exactly ${SIZE}")
endif()
file(READ "${INPUT}" hex HEX)
if(LENGTH_FIELD)
  string(SUBSTRING "${hex}" 0 4 field)
  math(EXPR expected "${SIZE} - 2")
  math(EXPR stored "0x${field}")
  if(NOT stored EQUAL expected)
    math(EXPR expected_hex "${expected}" OUTPUT_FORMAT HEXADECIMAL)
    message(FATAL_ERROR "${WHAT}: ${INPUT} starts with the length ${stored} (0x${field}); "
                        "its first two bytes must be ${expected} (${expected_hex}), the size of the rest")
  endif()
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])"
       "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from ${INPUT}. Do not edit.\n"
  "#include \"payload/Payload.h\"\n\n"
  "extern const unsigned char ${SYMBOL}[${SIZE}] = {\n${body}};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
