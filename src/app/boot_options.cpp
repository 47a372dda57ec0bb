#include "app/boot_options.h"

#include <algorithm>
#include <ostream>

#include "app/handheld_setup.h"
#include "app/kernel_url.h"
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
    if (a.image) {
        // Beside a kernel fetched by URL, an image name is fetched from the same folder.
        std::error_code ec;
        bool hostFile = std::filesystem::is_regular_file(*a.image, ec);
        copyOption(menu.fileSystemImage, PATH_SIZE, (a.kernelUrlFolder && !hostFile ? *a.kernelUrlFolder : "") + *a.image);
    }
    if (a.serial) menu.serialConsole = *a.serial;
    if (a.verbose) menu.bootVerbose = *a.verbose;
    if (a.single) menu.bootSingleUser = *a.single;
    if (a.ask) menu.askFileName = *a.ask;
    if (a.debugger) menu.kernelDebugger = *a.debugger;
    if (a.speed) menu.serialSpeed = *a.speed;
    if (a.extra) copyOption(menu.extraKernelOptions, EXTRA_OPTIONS_SIZE, *a.extra);
    if (a.pause) menu.pauseBeforeBoot = *a.pause;
    if (a.safety) menu.safetyMessage = *a.safety;
    KernelOverrides& kernel = menu.kernelOverrides;
    if (a.protocol) kernel.protocol = *a.protocol == "linux" ? ProtocolChoice::Linux : ProtocolChoice::Native;
    if (a.machineNumber) kernel.machineNumber = a.machineNumber;
    if (a.loadAddress) kernel.loadAddress = a.loadAddress;
    if (a.entry) kernel.entry = a.entry;
    return true;
}

}  // namespace

int prepareOptions(const Arguments& a, BootMenu& menu, const std::filesystem::path& root, sim::LinkedFiles& links,
                   bool demo, std::ostream& err) {
    if (!applyFlags(a, menu, root, err)) return 2;
    if (!a.platform && menu.platform.cpu == 0 && menu.platform.machine == 0) {
        menu.platformEntry(DEMO_PLATFORM, 1);
        if (!a.quiet)
            err << "quorvel: no platform selected on the device; using the demo device's, "
                << sim::toUtf8(platformName(menu.platform)) << "\n";
    }
    if (a.directory) warnUnusedUrlPath(*a.directory, err);
    std::string card = firstCard(a);
    // The host file is read where the card would hold it; a file of that name the
    // card holds already is the user's, and the boot is refused rather than hiding it.
    auto link = [&](const std::filesystem::path& from) {
        std::error_code ec;
        std::filesystem::path onCard = root / card / from.filename();
        if (std::filesystem::exists(onCard, ec) && std::filesystem::equivalent(from, onCard, ec)) return true;
        if (!demo && std::filesystem::exists(onCard, ec)) {
            err << "quorvel: " << onCard.string() << " exists on the device already\n";
            return false;
        }
        links[wide("\\" + card + "\\" + from.filename().string())] = std::filesystem::absolute(from, ec);
        return true;
    };
    if (a.kernelFile) {
        if (!link(*a.kernelFile)) return 1;
        copyOption(menu.kernelDirectory, PATH_SIZE, "\\" + card + "\\");
        copyOption(menu.kernelName, PATH_SIZE, a.kernelFile->filename().string());
    }
    std::error_code ec;
    if (a.image && std::filesystem::is_regular_file(*a.image, ec)) {
        if (!link(*a.image)) return 1;
        copyOption(menu.fileSystemImage, PATH_SIZE, std::filesystem::path(*a.image).filename().string());
        if (!a.root) menu.rootFileSystem = ROOT_MD;
    } else if (a.image) {
        // A name in the kernel directory is still the image asked for: a wrong name
        // must fail the boot, not boot without it.
        if (!a.root) menu.rootFileSystem = ROOT_MD;
        if (a.image->find('/') != std::string::npos && !a.kernelUrlFolder)
            err << "quorvel: note: no image file at " << std::filesystem::absolute(*a.image).string()
                << "; taken as a name in the kernel directory\n";
    }
    return 0;
}

std::string kernelPathOf(const BootMenu& menu) { return text(menu.kernelDirectory) + text(menu.kernelName); }

std::optional<std::filesystem::path> hostPathOf(const BootMenu& menu, const std::filesystem::path& root,
                                                const sim::LinkedFiles& links) {
    std::string path = kernelPathOf(menu);
    if (auto linked = sim::linkedFile(links, wide(path))) return linked;
    if (path.empty() || path[0] != '\\') return std::nullopt;
    std::replace(path.begin(), path.end(), '\\', '/');
    return root / path.substr(1);
}

}  // namespace quorvel::app
