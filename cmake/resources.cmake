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

# The program's own resources, compiled and linked into the system as the bytes of a
# .res file (ce::moduleResources) that the resource calls read.
set(QUORVEL_RESOURCE_SOURCES ${CMAKE_SOURCE_DIR}/src/ui/resources)
set(QUORVEL_RESOURCES_RES ${CMAKE_BINARY_DIR}/resources/quorvel.res)
set(QUORVEL_RESOURCES_CPP ${CMAKE_BINARY_DIR}/resources/module_resources.cpp)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/resources)
quorvel_resource_file(${QUORVEL_RESOURCES_RES} ${QUORVEL_RESOURCE_SOURCES}/quorvel.rc
  DEPENDS ${QUORVEL_RESOURCE_SOURCES}/tab_main.bmp ${QUORVEL_RESOURCE_SOURCES}/tab_option.bmp
          ${QUORVEL_RESOURCE_SOURCES}/tab_console.bmp ${QUORVEL_RESOURCE_SOURCES}/quorvel.ico)
quorvel_embed_file(${QUORVEL_RESOURCES_CPP} ${QUORVEL_RESOURCES_RES}
  NAMESPACE ce NAME moduleResources LABEL quorvel.rc)
target_sources(quorvel_host PRIVATE ${QUORVEL_RESOURCES_CPP})
# For the tests that read the file itself.
target_compile_definitions(quorvel_system INTERFACE QUORVEL_RESOURCES_RES="${QUORVEL_RESOURCES_RES}")
