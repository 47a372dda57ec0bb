# quorvel_embed_file(<output.cpp> <input> NAMESPACE <ns> NAME <array> LABEL <text>)
# Generates, at build time, the C++ file that links <input>'s bytes into the program
# as `const std::uint8_t <ns>::<array>[]` with `const std::size_t <ns>::<array>Size`.
set(QUORVEL_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/scripts/embed_file.cmake)
function(quorvel_embed_file output input)
  cmake_parse_arguments(ARG "" "NAMESPACE;NAME;LABEL" "" ${ARGN})
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DNAMESPACE=${ARG_NAMESPACE} -DNAME=${ARG_NAME}
            -DLABEL=${ARG_LABEL} -P ${QUORVEL_EMBED_SCRIPT}
    DEPENDS ${input} ${QUORVEL_EMBED_SCRIPT} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/byte_array.cmake
    COMMENT "Embedding ${ARG_LABEL}"
    VERBATIM)
endfunction()
