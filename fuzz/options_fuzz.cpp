// quorvel.cnf as any card might hold it, through the parse the options load uses.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boot/boot_menu.h"

using namespace quorvel;

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

template <std::size_t N>
bool terminated(const ce::WCHAR (&text)[N]) {
    for (ce::WCHAR c : text) {
        if (c == 0) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    BootOptions options;
    std::memset(&options, 0x5A, sizeof options);
    setDefaultOptions(options);
    BootOptions before;
    std::memcpy(&before, &options, sizeof options);

    if (!parseOptions(data, size, options)) {
        // A rejected file leaves the options as they were.
        check(std::memcmp(&before, &options, sizeof options) == 0);
        return 0;
    }
    check(options.magic == BOOT_OPTIONS_MAGIC);
    check(terminated(options.kernelDirectory) && terminated(options.kernelName));
    check(terminated(options.fileSystemImage) && terminated(options.extraKernelOptions));
    return 0;
}
