#include "sim/cairo_library.h"

#include <stdexcept>
#include <string>

#include "sim/shared_library.h"

namespace sim {

const Cairo& cairo() {
    static SharedLibrary library(QUORVEL_CAIRO_SONAME);
    static Cairo functions;
    static const bool found = [] {
        bool all = library.isOpen();
#define QUORVEL_CAIRO_FIND(name) all = all && library.find("cairo_" #name, functions.name);
        QUORVEL_CAIRO_FUNCTIONS(QUORVEL_CAIRO_FIND)
#undef QUORVEL_CAIRO_FIND
        return all;
    }();
    if (!found) throw std::runtime_error("cairo cannot be loaded: " + library.error());
    return functions;
}

}  // namespace sim
