# The screen's live view: SDL2 shows the handheld's screen (cairo, found with the other
# host libraries, paints it and writes screenshots).
pkg_check_modules(QUORVEL_SDL2 REQUIRED IMPORTED_TARGET sdl2)
target_link_libraries(quorvel_host PUBLIC PkgConfig::QUORVEL_SDL2)
