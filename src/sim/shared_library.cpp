#include "sim/shared_library.h"

#include <dlfcn.h>

namespace sim {

SharedLibrary::SharedLibrary(const char* soname) {
    // Every symbol resolved now: a library that cannot serve fails here, not in the
    // middle of a call.
    handle_ = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) error_ = dlerror();
}

void* SharedLibrary::address(const char* name) {
    if (!handle_) return nullptr;
    dlerror();
    void* found = dlsym(handle_, name);
    if (!found && error_.empty()) {
        const char* why = dlerror();
        error_ = why ? why : std::string(name) + ": no such symbol";
    }
    return found;
}

}  // namespace sim
