# The screen's host libraries: cairo writes screenshots, SDL2 shows the live view.
pkg_check_modules(QUORVEL_CAIRO REQUIRED IMPORTED_TARGET cairo)
pkg_check_modules(QUORVEL_SDL2 REQUIRED IMPORTED_TARGET sdl2)
target_link_libraries(quorvel_system PUBLIC PkgConfig::QUORVEL_CAIRO PkgConfig::QUORVEL_SDL2)
