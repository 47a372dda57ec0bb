# Turns the sample kernel into a byte array the front end carries.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from the sample kernel; do not edit.\n#include <cstddef>\n#include <cstdint>\n\nnamespace quorvel::app {\nextern const std::uint8_t demoKernel[] = {\n    ${bytes}};\nextern const std::size_t demoKernelSize = ${size};\n}  // namespace quorvel::app\n")
