// quorvel options: the options a boot would use, read from the device and the flags.
#include <cstdio>
#include <ostream>

#include "app/boot_options.h"
#include "app/commands.h"
#include "app/handheld_setup.h"
#include "app/platform_search.h"
#include "app/wide_text.h"
#include "console/console.h"
#include "sim/handheld.h"
#include "sim/utf.h"

namespace quorvel::app {

namespace {

void printOptions(const BootMenu& menu, std::ostream& out) {
    static const char* const rootNames[] = {"wd", "sd", "md", "nfs", "dk", "ld"};
    char ids[64];
    std::snprintf(ids, sizeof ids, "cpu=0x%08x machine=0x%08x", menu.platform.cpu, menu.platform.machine);
    out << "platform           " << sim::toUtf8(platformName(menu.platform)) << " (" << ids << ")\n"
        << "kernel directory   " << (menu.kernelDirectorySet ? text(menu.kernelDirectory) : "(not set)") << "\n"
        << "kernel name        " << (menu.kernelNameSet ? text(menu.kernelName) : "(not set)") << "\n"
        << "root file system   "
        << (menu.rootFileSystem >= 0 && menu.rootFileSystem < 6 ? rootNames[menu.rootFileSystem] : "?") << "\n"
        << "file-system image  " << text(menu.fileSystemImage) << "\n"
        << "serial console     " << (menu.serialConsole ? "yes" : "no") << "\n"
        << "boot verbosely     " << (menu.bootVerbose ? "yes" : "no") << "\n"
        << "single user        " << (menu.bootSingleUser ? "yes" : "no") << "\n"
        << "ask for file name  " << (menu.askFileName ? "yes" : "no") << "\n"
        << "kernel debugger    " << (menu.kernelDebugger ? "yes" : "no") << "\n"
        << "auto boot          " << menu.autoBootSeconds << "\n"
        << "reverse video      " << (menu.reverseVideo ? "yes" : "no") << "\n"
        << "pause before boot  " << (menu.pauseBeforeBoot ? "yes" : "no") << "\n"
        << "load debug info    " << (menu.loadDebugInfo ? "yes" : "no") << "\n"
        << "safety message     " << (menu.safetyMessage ? "yes" : "no") << "\n"
        << "serial speed       " << menu.serialSpeed << "\n"
        << "extra options      " << text(menu.extraKernelOptions) << "\n";
    // What a kernel entered with Linux's protocol would be given.
    const KernelOverrides& kernel = menu.kernelOverrides;
    const std::uint32_t platformNumber = linuxMachineNumber(menu.platform);
    std::string number = kernel.machineNumber ? std::to_string(*kernel.machineNumber) + " (given)"
                         : platformNumber != NO_MACHINE_NUMBER ? std::to_string(platformNumber) + " (the platform's)"
                                                               : "none (give one with --machine-number)";
    out << "protocol           "
        << (kernel.protocol == ProtocolChoice::Linux    ? "linux (asked for)"
            : kernel.protocol == ProtocolChoice::Native ? "native (asked for)"
                                                        : "linux for a kernel recognised as Linux, else native")
        << "\n"
        << "linux machine      " << number << "\n"
        << "linux command line " << linuxCommandLine(menu) << "\n";
    auto address = [](std::uint32_t value) {
        char t[16];
        std::snprintf(t, sizeof t, "0x%08x", value);
        return std::string(t);
    };
    if (kernel.loadAddress) out << "load address       " << address(*kernel.loadAddress) << "\n";
    if (kernel.entry) out << "entry              " << address(*kernel.entry) << "\n";
}

}  // namespace

int optionsCommand(const Arguments& a, std::ostream& out, std::ostream& err) {
    if (a.platform) {
        std::string why;
        if (!findPlatform(*a.platform, why)) {
            err << "quorvel: " << why << "\n";
            return 2;
        }
    }
    std::error_code ec;
    bool hostImage = a.image && std::filesystem::is_regular_file(*a.image, ec);
    if (a.save && (!a.device || a.kernelFile || hostImage)) {
        err << "quorvel: --save writes the device's quorvel.cnf: it needs --device DIR, and names on the device "
               "(--kernel, --image NAME), not files of this computer, which the device holds for one boot only\n";
        return 2;
    }
    std::optional<RunFolder> demo;
    std::filesystem::path root;
    if (int status = deviceRoot(a, demo, root, err)) return status;
    int status = 0;
    {
        sim::Handheld device(baseSettings(a, root));
        BootMenu& menu = theBootMenu();
        sim::LinkedFiles links;
        Arguments shown = a;
        // Nothing is put on the card to show the options: the host files' names are
        // shown as a boot would set them.
        shown.kernelFile.reset();
        if (hostImage) shown.image.reset();
        status = prepareOptions(shown, menu, root, links, demo.has_value(), err);
        if (status == 0) {
            if (a.kernelFile) {
                copyOption(menu.kernelDirectory, PATH_SIZE, "\\" + firstCard(a) + "\\");
                copyOption(menu.kernelName, PATH_SIZE, a.kernelFile->filename().string());
            }
            if (hostImage) {
                copyOption(menu.fileSystemImage, PATH_SIZE, std::filesystem::path(*a.image).filename().string());
                if (!a.root) menu.rootFileSystem = ROOT_MD;
            }
            printOptions(menu, out);
            if (a.save) {
                if (menu.saveOptions()) {
                    err << "quorvel: saved to the device's quorvel.cnf\n";
                } else {
                    err << "quorvel: can't save the options to the device's quorvel.cnf\n";
                    status = 1;
                }
            }
        }
        releaseConsole();
        releaseBootMenu();
    }
    return status;
}

}  // namespace quorvel::app
