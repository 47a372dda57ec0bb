# The screen's live view: SDL2 shows the handheld's screen (cairo, found with the other
# host libraries, paints it and writes screenshots). The view loads SDL2 when it opens
# its first window, so the program is built with SDL2's headers only.
pkg_check_modules(QUORVEL_SDL2 REQUIRED IMPORTED_TARGET sdl2)
quorvel_soname(QUORVEL_SDL2_SONAME QUORVEL_SDL2)
target_include_directories(quorvel_host PUBLIC ${QUORVEL_SDL2_INCLUDE_DIRS})
target_compile_options(quorvel_host PUBLIC ${QUORVEL_SDL2_CFLAGS_OTHER})
set_property(SOURCE ${CMAKE_SOURCE_DIR}/src/sim/screen/screen_view.cpp APPEND PROPERTY COMPILE_DEFINITIONS
  QUORVEL_SDL2_SONAME="${QUORVEL_SDL2_SONAME}")
target_link_libraries(quorvel_host PUBLIC ${CMAKE_DL_LIBS})
