# Resource scripts compiled by the Windows resource compiler into Win32 .res files.

find_program(QUORVEL_WINDRES x86_64-w64-mingw32-windres REQUIRED)
# windres preprocesses with the cross compiler's gcc by default, which is not installed;
# the host's preprocessor does the same job for a resource script.
find_program(QUORVEL_RC_PREPROCESSOR cpp REQUIRED)

# quorvel_resource_file(<output.res> <script.rc> [DEPENDS files the script names ...])
# Bitmaps and icons are found relative to the script's folder.
function(quorvel_resource_file res rc)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(dir ${rc} DIRECTORY)
  add_custom_command(
    OUTPUT ${res}
    COMMAND ${QUORVEL_WINDRES} --preprocessor=${QUORVEL_RC_PREPROCESSOR} -I ${dir} -J rc -O res -i ${rc} -o ${res}
    DEPENDS ${rc} ${ARG_DEPENDS}
    WORKING_DIRECTORY ${dir}
    COMMENT "Compiling the resource script ${rc}"
    VERBATIM)
endfunction()
