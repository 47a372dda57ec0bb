#include "app/boot_options.h"

#include <algorithm>
#include <ostream>

#include "app/platform_search.h"
#include "app/wide_text.h"
#include "platform/coredll.h"
#include "sim/utf.h"

namespace quorvel::app {

namespace {

// "/Storage Card/" for "\Storage Card\" when the device has that folder; a missing
// trailing separator added.
std::string normaliseDirectory(std::string dir, const std::filesystem::path& root) {
    if (dir.empty()) return dir;
    bool url = dir.find("://") != std::string::npos;
    if (!url && dir[0] == '/' && dir.size() > 1) {
        std::string first = dir.substr(1, dir.find('/', 1) == std::string::npos ? std::string::npos : dir.find('/', 1) - 1);
        std::error_code ec;
        if (!first.empty() && std::filesystem::is_directory(root / first, ec))
            std::replace(dir.begin(), dir.end(), '/', '\\');
    }
    char separator = dir.find('\\') != std::string::npos && !url ? '\\' : '/';
    if (dir.back() != separator) dir += separator;
    return dir;
}

// Applies the flags as the tab pages would write their controls into the options.
bool applyFlags(const Arguments& a, BootMenu& menu, const std::filesystem::path& root, std::ostream& err) {
    if (a.platform) {
        std::string why;
        std::optional<int> index = findPlatform(*a.platform, why);
        if (!index) {
            err << "quorvel: " << why << "\n";
            return false;
        }
        menu.platformEntry(*index, 1);
    }
    // The Main page shows its first directory entry and "tamsel.gz" until a value
    // has been taken from it, and writes both back.
    if (a.directory) {
        copyOption(menu.kernelDirectory, PATH_SIZE, normaliseDirectory(*a.directory, root));
    } else if (!menu.kernelDirectorySet) {
        const ce::WCHAR* first = menu.directoryEntry(menu.directorySelection());
        ce::wcsncpy(menu.kernelDirectory, first ? first : u"", PATH_SIZE - 1);
    }
    menu.kernelDirectorySet = ce::TRUE;
    if (a.kernel) {
        copyOption(menu.kernelName, PATH_SIZE, *a.kernel);
    } else if (!menu.kernelNameSet) {
        ce::wcsncpy(menu.kernelName, u"tamsel.gz", PATH_SIZE - 1);
    }
    menu.kernelNameSet = ce::TRUE;
    if (a.root) menu.rootFileSystem = *a.root;
    if (a.image) copyOption(menu.fileSystemImage, PATH_SIZE, *a.image);
    if (a.serial) menu.serialConsole = *a.serial;
    if (a.verbose) menu.bootVerbose = *a.verbose;
    if (a.single) menu.bootSingleUser = *a.single;
    if (a.ask) menu.askFileName = *a.ask;
    if (a.debugger) menu.kernelDebugger = *a.debugger;
    if (a.speed) menu.serialSpeed = *a.speed;
    if (a.extra) copyOption(menu.extraKernelOptions, EXTRA_OPTIONS_SIZE, *a.extra);
    if (a.pause) menu.pauseBeforeBoot = *a.pause;
    if (a.safety) menu.safetyMessage = *a.safety;
    return true;
}

}  // namespace

int prepareOptions(const Arguments& a, BootMenu& menu, const std::filesystem::path& root, PlacedFile& kernel,
                   PlacedFile& image, bool demo, std::ostream& err) {
    if (!applyFlags(a, menu, root, err)) return 2;
    if (!a.platform && menu.platform.cpu == 0 && menu.platform.machine == 0) {
        menu.platformEntry(DEMO_PLATFORM, 1);
        if (!a.quiet)
            err << "quorvel: no platform selected on the device; using the demo device's, "
                << sim::toUtf8(platformName(menu.platform)) << "\n";
    }
    std::string card = a.cards.empty() ? "Storage Card" : a.cards.front();
    auto place = [&](PlacedFile& placed, const std::filesystem::path& from) {
        std::error_code ec;
        std::filesystem::create_directories(root / card, ec);
        std::filesystem::path to = root / card / from.filename();
        std::string why;
        if (!placed.place(from, to, demo, why)) {
            err << "quorvel: " << why << "\n";
            return false;
        }
        return true;
    };
    if (a.kernelFile) {
        if (!place(kernel, *a.kernelFile)) return 1;
        copyOption(menu.kernelDirectory, PATH_SIZE, "\\" + card + "\\");
        copyOption(menu.kernelName, PATH_SIZE, a.kernelFile->filename().string());
    }
    std::error_code ec;
    if (a.image && std::filesystem::is_regular_file(*a.image, ec)) {
        if (!place(image, *a.image)) return 1;
        copyOption(menu.fileSystemImage, PATH_SIZE, std::filesystem::path(*a.image).filename().string());
        if (!a.root) menu.rootFileSystem = ROOT_MD;
    } else if (a.image) {
        // A name in the kernel directory is still the image asked for: a wrong name
        // must fail the boot, not boot without it.
        if (!a.root) menu.rootFileSystem = ROOT_MD;
        if (a.image->find('/') != std::string::npos)
            err << "quorvel: note: no image file at " << std::filesystem::absolute(*a.image).string()
                << "; taken as a name in the kernel directory\n";
    }
    return 0;
}

std::optional<std::filesystem::path> hostPathOf(const BootMenu& menu, const std::filesystem::path& root) {
    std::string dir = text(menu.kernelDirectory);
    if (dir.empty() || dir[0] != '\\') return std::nullopt;
    std::replace(dir.begin(), dir.end(), '\\', '/');
    return root / dir.substr(1) / text(menu.kernelName);
}

}  // namespace quorvel::app
