// A host library opened the first time it is needed, not when the program starts:
// a command that shows no window does not pay for loading a library that drags
// dozens of others in behind it.
#pragma once

#include <string>

namespace sim {

class SharedLibrary {
public:
    // Opens `soname` (a library's run-time name, e.g. "libSDL2-2.0.so.0"); a library
    // the program already holds is the same one, never a second copy.
    // Never closed: libraries that start threads or register handlers cannot be
    // unloaded safely.
    explicit SharedLibrary(const char* soname);
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    bool isOpen() const { return handle_ != nullptr; }
    // Why the library or a symbol could not be had.
    const std::string& error() const { return error_; }

    // The function `name` as a pointer of its own type, or null (and `error()`).
    template <typename Function>
    bool find(const char* name, Function*& function) {
        function = reinterpret_cast<Function*>(address(name));
        return function != nullptr;
    }

private:
    void* address(const char* name);

    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace sim
