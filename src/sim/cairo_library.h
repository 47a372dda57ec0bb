// cairo, opened the first time something is painted or written: commands that show
// no screen start without it and the font and X libraries behind it.
#pragma once

#include <cairo.h>

namespace sim {

#define QUORVEL_CAIRO_FUNCTIONS(F) \
    F(arc) \
    F(clip) \
    F(close_path) \
    F(create) \
    F(destroy) \
    F(fill) \
    F(fill_preserve) \
    F(font_extents) \
    F(font_options_create) \
    F(font_options_destroy) \
    F(font_options_set_antialias) \
    F(font_options_set_hint_metrics) \
    F(format_stride_for_width) \
    F(image_surface_create) \
    F(image_surface_create_for_data) \
    F(image_surface_get_data) \
    F(image_surface_get_stride) \
    F(line_to) \
    F(move_to) \
    F(paint) \
    F(rectangle) \
    F(restore) \
    F(save) \
    F(select_font_face) \
    F(set_antialias) \
    F(set_font_options) \
    F(set_font_size) \
    F(set_line_width) \
    F(set_source_rgb) \
    F(set_source_surface) \
    F(show_text) \
    F(stroke) \
    F(surface_destroy) \
    F(surface_flush) \
    F(surface_mark_dirty) \
    F(surface_status) \
    F(surface_write_to_png) \
    F(text_extents)

struct Cairo {
#define QUORVEL_CAIRO_POINTER(name) decltype(::cairo_##name)* name = nullptr;
    QUORVEL_CAIRO_FUNCTIONS(QUORVEL_CAIRO_POINTER)
#undef QUORVEL_CAIRO_POINTER
};

// The functions; throws std::runtime_error when cairo cannot be loaded.
const Cairo& cairo();

}  // namespace sim
