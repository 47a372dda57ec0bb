# cmake -P: turns one file into a byte array linked into the program.
# In: INPUT, OUTPUT (the C++ file), NAMESPACE, NAME (the array; NAME##Size its size),
# LABEL (what the file is, for the generated file's first line).
include(${CMAKE_CURRENT_LIST_DIR}/../byte_array.cmake)
quorvel_byte_array("${INPUT}" bytes size)
file(WRITE "${OUTPUT}" "// Generated from ${LABEL}; do not edit.\n#include <cstddef>\n#include <cstdint>\n\nnamespace ${NAMESPACE} {\nextern const std::uint8_t ${NAME}[];\nalignas(8) const std::uint8_t ${NAME}[] = {\n    ${bytes}};\nextern const std::size_t ${NAME}Size = ${size};\n}  // namespace ${NAMESPACE}\n")
