// The front end's commands. A boot runs on two short-lived devices: the first only
// reads the configuration file (the options decide which processor the handheld
// has), the second is the handheld that boots.
#include "app/boot_command.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "app/demo_device.h"
#include "app/terminal.h"
#include "boot/boot_context.h"
#include "boot/boot_menu.h"
#include "boot/platform_id.h"
#include "console/console.h"
#include "platform/coredll.h"
#include "sim/emulator.h"
#include "sim/handheld.h"
#include "sim/utf.h"

namespace quorvel::app {

namespace {

// A temporary folder for the demo device, removed afterwards.
class DemoFolder {
public:
    DemoFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-demo-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~DemoFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

sim::DeviceSettings baseSettings(const Arguments& a, const std::filesystem::path& root) {
    sim::DeviceSettings settings;
    settings.root = root;
    if (!a.cards.empty()) {
        settings.storageCards.clear();
        for (const std::string& card : a.cards) settings.storageCards.push_back(sim::fromUtf8(card));
    }
    return settings;
}

std::u16string wide(const std::string& text) { return sim::fromUtf8(text); }

void copyOption(ce::WCHAR* to, std::size_t size, const std::string& text) {
    std::u16string w = wide(text);
    std::size_t n = std::min(w.size(), size - 1);
    std::copy(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(n), to);
    to[n] = 0;
}

// Applies the flags as the tab pages would write their controls into the options.
bool applyFlags(const Arguments& a, BootMenu& menu, std::ostream& err) {
    if (a.platform) {
        bool found = false;
        int index = 0;
        if (std::sscanf(a.platform->c_str(), "%d", &index) == 1 && std::to_string(index) == *a.platform) {
            if (index >= 0 && menu.platformEntry(index, 0)) {
                menu.platformEntry(index, 1);
                found = true;
            }
        } else {
            std::u16string name = wide(*a.platform);
            for (const PlatformName& row : platformNameTable) {
                if (name == row.name) {
                    menu.platform = *row.id;
                    found = true;
                    break;
                }
            }
        }
        if (!found) {
            err << "quorvel: unknown platform: " << *a.platform << " (see `quorvel platforms`)\n";
            return false;
        }
    }
    // The Main page shows its first directory entry and "tamsel.gz" until a value
    // has been taken from it, and writes both back.
    if (a.directory) {
        copyOption(menu.kernelDirectory, PATH_SIZE, *a.directory);
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
    if (a.serial) menu.serialConsole = ce::TRUE;
    if (a.verbose) menu.bootVerbose = ce::TRUE;
    if (a.single) menu.bootSingleUser = ce::TRUE;
    if (a.ask) menu.askFileName = ce::TRUE;
    if (a.debugger) menu.kernelDebugger = ce::TRUE;
    if (a.speed) menu.serialSpeed = *a.speed;
    if (a.extra) copyOption(menu.extraKernelOptions, EXTRA_OPTIONS_SIZE, *a.extra);
    if (a.noPause) menu.pauseBeforeBoot = ce::FALSE;
    if (a.noSafety) menu.safetyMessage = ce::FALSE;
    return true;
}

// The handheld's processor: as asked, else the one the selected platform names.
void chooseCpu(const Arguments& a, const PlatformId& platform, sim::DeviceSettings& settings) {
    std::string cpu = a.cpu.value_or("");
    if (cpu.empty()) {
        std::uint32_t model = platform.cpu & 0xFFFFC000u;
        cpu = model == 0x0C104000u ? "sa1100" : model == 0x0C204000u ? "pxa250" : model == 0x0C208000u ? "pxa270" : "sa1110";
    }
    if (cpu == "sa1100") {
        settings.cpu = sim::CpuFamily::SA11x0;
        settings.mainId = sim::MAIN_ID_SA1100;
    } else if (cpu == "sa1110") {
        settings.cpu = sim::CpuFamily::SA11x0;
        settings.mainId = sim::MAIN_ID_SA1110;
    } else {
        settings.cpu = sim::CpuFamily::PXA2x0;
        settings.mainId = cpu == "pxa250" ? sim::MAIN_ID_PXA250 : sim::MAIN_ID_PXA270;
        settings.processorType = 0;  // not a StrongARM
    }
}

void printOptions(const BootMenu& menu, std::ostream& out) {
    auto text = [](const ce::WCHAR* w) { return sim::toUtf8(std::u16string_view(w, ce::wcslen(w))); };
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

bool saveMemory(sim::Handheld& device, const std::filesystem::path& folder, std::ostream& err) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    for (const sim::RamBank& bank : device.memory().banks()) {
        char name[16];
        std::snprintf(name, sizeof name, "%08x", bank.base);
        std::ofstream file(folder / name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(device.memory().host(sim::PhysicalAddress(bank.base))), bank.size);
        if (!file) {
            err << "quorvel: can't write " << (folder / name).string() << "\n";
            return false;
        }
    }
    return true;
}

// The kernel's verdict is its last line: OK or FAIL.
bool kernelSaidOk(const std::string& output) {
    std::string last;
    std::size_t end = output.find_last_not_of("\r\n");
    if (end == std::string::npos) return false;
    std::size_t start = output.find_last_of('\n', end);
    last = output.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
    return last == "OK";
}

// The device's root folder: the one asked for, or the demo device prepared in
// `demo`; a non-zero exit status when there is none.
int deviceRoot(const Arguments& a, const DemoFolder& demo, std::filesystem::path& root, std::ostream& err) {
    if (a.device) {
        root = *a.device;
        if (std::filesystem::is_directory(root)) return 0;
        err << "quorvel: no such device folder: " << root.string() << "\n";
        return 2;
    }
    if (demo.path().empty() || !prepareDemoDevice(demo.path())) {
        err << "quorvel: can't prepare the demo device\n";
        return 1;
    }
    root = demo.path();
    return 0;
}

int boot(const Arguments& a, std::istream& in, std::ostream& out, std::ostream& err) {
    DemoFolder demo;
    std::filesystem::path root;
    if (int status = deviceRoot(a, demo, root, err)) return status;
    if (!a.device) out << "demo device: HP Jornada 720, kernel \\Storage Card\\tamsel.gz\n";

    sim::DeviceSettings settings = baseSettings(a, root);
    {
        sim::Handheld reader(settings);
        theBootMenu();
    }
    BootMenu& menu = theBootMenu();
    if (!applyFlags(a, menu, err)) {
        releaseBootMenu();
        return 2;
    }
    chooseCpu(a, menu.platform, settings);
    if (a.ramMegabytes) settings.ram = {{sim::dramBase(settings.cpu), *a.ramMegabytes << 20}};
    if (a.screenWidth) {
        settings.screenWidth = *a.screenWidth;
        settings.screenHeight = *a.screenHeight;
        settings.bitsPerPixel = *a.screenBits;
    }
    if (a.com1) settings.com1Output = *a.com1;
    for (const auto& [name, image] : a.disks) settings.disks[wide(name)] = image;

    int status = 1;
    {
        sim::Handheld device(settings);
        device.messageBoxes().setPolicy(terminalMessageBoxes(in, out, a.yes));
        TerminalConsolePage consolePage(out);
        TerminalMainWindow window;
        menu.consoleTab = &consolePage;
        menu.mainWindow = &window;
        theBootContext();

        bool go = true;
        if (menu.safetyMessage) {
            ce::UINT icon = menu.pauseBeforeBoot ? ce::MB_ICONQUESTION : ce::MB_ICONEXCLAMATION;
            int answer = ce::MessageBoxW(window.handle(), u"Data in memory will be lost.\nAre you sure?", u"WARNING",
                                         ce::MB_YESNO | icon);
            if (answer == ce::IDYES)
                ce::UpdateWindow(window.handle());
            else
                go = false;
        }
        std::optional<sim::HandOverResult> result;
        if (go) {
            window.progressDone();
            menu.logText(u"BOOT START\n");
            menu.collectOptions();
            menu.saveOptions();
            try {
                result = sim::runBoot([] { theBootMenu().startBoot(); });
            } catch (const std::exception& e) {
                err << "quorvel: the hand-over could not run: " << e.what() << "\n";
            }
        }
        if (result) {
            std::string uart = device.uart() ? device.uart()->sent() : std::string();
            out << "--- kernel entered; its UART output ---\n" << uart;
            if (!uart.empty() && uart.back() != '\n') out << "\n";
            out << "--- " << result->describe() << " ---\n";
            bool saved = !a.saveMemory || saveMemory(device, *a.saveMemory, err);
            status = saved && result->reason == sim::HaltReason::Halted && kernelSaidOk(uart) ? 0 : 1;
        }
        releaseBootContext();
        closeSerialPort();
        menu.consoleTab = nullptr;
        menu.mainWindow = nullptr;
        releaseConsole();
    }
    releaseBootMenu();
    return status;
}

int options(const Arguments& a, std::ostream& out, std::ostream& err) {
    DemoFolder demo;
    std::filesystem::path root;
    if (int status = deviceRoot(a, demo, root, err)) return status;
    sim::Handheld device(baseSettings(a, root));
    BootMenu& menu = theBootMenu();
    Arguments none;
    applyFlags(none, menu, err);
    printOptions(menu, out);
    releaseConsole();
    releaseBootMenu();
    return 0;
}

int platforms(std::ostream& out) {
    int index = 0;
    for (const PlatformName& row : platformNameTable) {
        if (!row.id->cpu || !row.id->machine) continue;
        char line[128];
        std::snprintf(line, sizeof line, "%2d  cpu=0x%08x machine=0x%08x  ", index++, row.id->cpu, row.id->machine);
        out << line << sim::toUtf8(row.name) << "\n";
    }
    return 0;
}

}  // namespace

int runCommand(const Arguments& a, std::istream& in, std::ostream& out, std::ostream& err) {
    if (a.command == Command::Help || a.help) {
        out << usage(a.command);
        return 0;
    }
    switch (a.command) {
    case Command::Boot: return boot(a, in, out, err);
    case Command::Platforms: return platforms(out);
    case Command::Options: return options(a, out, err);
    case Command::Help: break;
    }
    return 2;
}

}  // namespace quorvel::app
