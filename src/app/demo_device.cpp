// The demo handheld's files. The configuration file is written by the system's own
// option code on a short-lived device, so it is exactly what the device would keep.
#include "app/demo_device.h"

#include <cstdint>
#include <fstream>

#include "app/platform_search.h"
#include "boot/boot_menu.h"
#include "platform/coredll.h"
#include "sim/handheld.h"

namespace quorvel::app {

extern const std::uint8_t demoKernel[];
extern const std::size_t demoKernelSize;

bool prepareDemoDevice(const std::filesystem::path& root) {
    std::error_code ec;
    std::filesystem::create_directories(root / "Storage Card", ec);
    if (ec) return false;
    std::ofstream kernel(root / "Storage Card" / "tamsel.gz", std::ios::binary);
    kernel.write(reinterpret_cast<const char*>(demoKernel), static_cast<std::streamsize>(demoKernelSize));
    if (!kernel) return false;
    kernel.close();

    sim::DeviceSettings settings;
    settings.root = root;
    sim::Handheld device(settings);
    BootMenu& menu = theBootMenu();
    menu.platformEntry(DEMO_PLATFORM, 1);
    ce::wcsncpy(menu.kernelDirectory, u"\\Storage Card\\", PATH_SIZE - 1);
    menu.kernelDirectorySet = ce::TRUE;
    bool saved = menu.saveOptions();
    releaseBootMenu();
    return saved;
}

}  // namespace quorvel::app
