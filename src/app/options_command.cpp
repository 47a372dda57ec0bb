// quorvel options: the options a boot would use, read from the device and the flags.
#include <cstdio>
#include <ostream>

#include "app/boot_options.h"
#include "app/commands.h"
#include "app/handheld_setup.h"
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
}

}  // namespace

int optionsCommand(const Arguments& a, std::ostream& out, std::ostream& err) {
    std::optional<DemoFolder> demo;
    std::filesystem::path root;
    if (int status = deviceRoot(a, demo, root, err)) return status;
    int status = 0;
    {
        sim::Handheld device(baseSettings(a, root));
        BootMenu& menu = theBootMenu();
        PlacedFile kernel, image;
        Arguments shown = a;
        // Nothing is placed on the card to show the options: the host files' names are
        // shown as a boot would set them.
        std::error_code ec;
        bool hostImage = a.image && std::filesystem::is_regular_file(*a.image, ec);
        shown.kernelFile.reset();
        if (hostImage) shown.image.reset();
        status = prepareOptions(shown, menu, root, kernel, image, demo.has_value(), err);
        if (status == 0) {
            if (a.kernelFile) {
                std::string card = a.cards.empty() ? "Storage Card" : a.cards.front();
                copyOption(menu.kernelDirectory, PATH_SIZE, "\\" + card + "\\");
                copyOption(menu.kernelName, PATH_SIZE, a.kernelFile->filename().string());
            }
            if (hostImage) {
                copyOption(menu.fileSystemImage, PATH_SIZE, std::filesystem::path(*a.image).filename().string());
                if (!a.root) menu.rootFileSystem = ROOT_MD;
            }
            printOptions(menu, out);
        }
        releaseConsole();
        releaseBootMenu();
    }
    return status;
}

}  // namespace quorvel::app
