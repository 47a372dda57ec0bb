# quorvel_byte_array(<file> <bytes-variable> <size-variable>)
# The file's bytes as the body of a C++ array initialiser, sixteen to a line, and
# their count: shared by the scripts that turn build outputs into linked byte arrays.
function(quorvel_byte_array file bytesVariable sizeVariable)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR size "${length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # CMake's regular expressions have no {n}: the sixteen bytes of a line spelt out.
  string(REPEAT "0x..," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
  set(${bytesVariable} "${bytes}" PARENT_SCOPE)
  set(${sizeVariable} ${size} PARENT_SCOPE)
endfunction()
