// The front end's commands. A boot runs on two short-lived devices: the first only
// reads the configuration file (the options decide which processor the handheld
// has), the second is the handheld that boots.
#include "app/boot_command.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "app/demo_device.h"
#include "app/hand_over_report.h"
#include "app/platform_screen.h"
#include "app/terminal.h"
#include "hardware/cpu_models.h"
#include "boot/boot_context.h"
#include "boot/boot_menu.h"
#include "boot/platform_id.h"
#include "file/gzip_file_manager.h"
#include "console/console.h"
#include "platform/coredll.h"
#include "sim/emulator.h"
#include "sim/handheld.h"
#include "sim/screen/png_writer.h"
#include "sim/screen/screen_view.h"
#include "sim/utf.h"
#include "sim/windows/controls.h"
#include "sim/windows/window_system.h"
#include "ui/app_window.h"
#include "ui/boot_steps.h"

namespace quorvel::app {

namespace {

// What the last boot started through the Boot command's steps came to.
std::optional<sim::HandOverResult>& bootResult() {
    static std::optional<sim::HandOverResult> result;
    return result;
}
std::string& bootError() {
    static std::string error;
    return error;
}

constexpr int DEMO_PLATFORM = 9;  // selectable index of "HP Jornada 720 (US/UK)"
std::atomic<bool> interruptedOutside{false};

// The demo device's temporary folder. Its path is also known to the signal watcher,
// which removes it when the process is stopped outside the emulator.
std::mutex demoLock;
std::string demoPath;  // guarded by demoLock

class DemoFolder {
public:
    DemoFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-demo-XXXXXX").string();
        std::lock_guard<std::mutex> guard(demoLock);
        if (mkdtemp(pattern.data())) path_ = demoPath = pattern;
    }
    ~DemoFolder() {
        std::lock_guard<std::mutex> guard(demoLock);
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
        demoPath.clear();
    }
    DemoFolder(const DemoFolder&) = delete;
    DemoFolder& operator=(const DemoFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A host file put on the storage card for one boot, removed afterwards.
class PlacedFile {
public:
    PlacedFile() = default;
    PlacedFile(const PlacedFile&) = delete;
    PlacedFile& operator=(const PlacedFile&) = delete;
    ~PlacedFile() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove(path_, ec);
    }
    // On the demo device a file of the same name is replaced; on the user's device it
    // is kept and the boot refused.
    bool place(const std::filesystem::path& from, const std::filesystem::path& to, bool replace, std::string& why) {
        std::error_code ec;
        if (std::filesystem::exists(to, ec) && std::filesystem::equivalent(from, to, ec)) return true;
        if (replace) {
            std::filesystem::remove(to, ec);
        } else if (std::filesystem::exists(to, ec)) {
            why = to.string() + " exists on the device already";
            return false;
        }
        if (!std::filesystem::copy_file(from, to, ec)) {
            why = "can't copy " + from.string() + " to " + to.string() + ": " + ec.message();
            return false;
        }
        if (!replace) path_ = to;
        return true;
    }
    // Only a copy made here is ours to remove; a kernel already on the card is the user's.
    bool ours() const { return !path_.empty(); }

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

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The selectable platforms, in the order `quorvel platforms` shows them.
std::vector<const PlatformName*> selectablePlatforms() {
    std::vector<const PlatformName*> rows;
    for (const PlatformName& row : platformNameTable)
        if (row.id->cpu && row.id->machine) rows.push_back(&row);
    return rows;
}

// A platform by index, by name without regard to case, or by a prefix that names
// one platform; otherwise the reason and the near names.
std::optional<int> findPlatform(const std::string& wanted, std::string& why) {
    std::vector<const PlatformName*> rows = selectablePlatforms();
    int index = 0;
    auto [end, ec] = std::from_chars(wanted.data(), wanted.data() + wanted.size(), index);
    if (ec == std::errc() && end == wanted.data() + wanted.size()) {
        if (index >= 0 && index < static_cast<int>(rows.size())) return index;
        why = "unknown platform: " + wanted + " (indexes run from 0 to " + std::to_string(rows.size() - 1) + ")";
        return std::nullopt;
    }
    std::string key = lower(wanted);
    std::vector<int> prefixed;
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        std::string name = lower(sim::toUtf8(rows[i]->name));
        if (name == key) return i;
        if (name.rfind(key, 0) == 0) prefixed.push_back(i);
    }
    if (prefixed.size() == 1) return prefixed[0];
    std::vector<int> near = prefixed;
    if (near.empty()) {
        // Names that share a word with what was asked.
        std::istringstream words(key);
        std::string word;
        while (words >> word) {
            if (word.size() < 3) continue;
            for (int i = 0; i < static_cast<int>(rows.size()); ++i)
                if (lower(sim::toUtf8(rows[i]->name)).find(word) != std::string::npos &&
                    std::find(near.begin(), near.end(), i) == near.end())
                    near.push_back(i);
        }
    }
    why = (prefixed.size() > 1 ? "platform prefix names several platforms: " : "unknown platform: ") + wanted;
    if (!near.empty()) {
        why += "; near:";
        for (int i : near) why += "\n  " + std::to_string(i) + "  " + sim::toUtf8(rows[i]->name);
    }
    why += "\n(see `quorvel platforms`)";
    return std::nullopt;
}

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
// The handheld's processor: as asked, else the one the selected platform names.
void chooseCpu(const Arguments& a, const PlatformId& platform, sim::DeviceSettings& settings) {
    std::string cpu = a.cpu.value_or("");
    if (cpu.empty()) {
        std::uint32_t model = platform.cpu & 0xFFFFC000u;  // the cpu word without its submodel
        cpu = model == CPU_WORD_SA1100 ? "sa1100" : model == CPU_WORD_PXA250 ? "pxa250" : model == CPU_WORD_PXA270 ? "pxa270" : "sa1110";
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

// Paths removed when the process is stopped by a signal outside the emulator: the
// demo folder and files placed on a device's card.
std::vector<std::string> placedPaths;  // guarded by demoLock

void forgetPlaced() {
    std::lock_guard<std::mutex> guard(demoLock);
    placedPaths.clear();
}

bool writeFile(const std::filesystem::path& path, const std::string& bytes, std::ostream& err) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        err << "quorvel: can't write " << path.string() << ": " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

bool saveMemory(sim::Handheld& device, const sim::HandOverResult& result, const std::filesystem::path& folder,
                std::ostream& err) {
    for (const sim::RamBank& bank : device.memory().banks()) {
        char name[16];
        std::snprintf(name, sizeof name, "%08x", bank.base);
        const char* bytes = reinterpret_cast<const char*>(device.memory().host(sim::PhysicalAddress(bank.base)));
        if (!writeFile(folder / name, std::string(bytes, bank.size), err)) return false;
    }
    return writeFile(folder / "registers.json", registersJson(result) + "\n", err);
}

// A place the run will write to, tried before the boot so that a mistake costs
// nothing: the system's reason when it cannot be written.
bool writable(const std::filesystem::path& file, const char* what, std::ostream& err) {
    std::error_code ec;
    bool existed = std::filesystem::exists(file, ec);
    std::ofstream probe(file, std::ios::app);
    if (!probe) {
        err << "quorvel: can't write " << what << " to " << file.string() << ": " << std::strerror(errno) << "\n";
        return false;
    }
    probe.close();
    if (!existed) std::filesystem::remove(file, ec);
    return true;
}

bool writableFolder(const std::filesystem::path& folder, std::ostream& err) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
        err << "quorvel: can't make the folder " << folder.string() << " for --save-memory: "
            << (ec ? ec.message() : "not a folder") << "\n";
        return false;
    }
    return writable(folder / ".quorvel-probe", "the saved memory", err);
}

// A disk image must be a file that holds an MBR.
bool usableDisk(const std::filesystem::path& image, std::ostream& err) {
    std::error_code ec;
    if (!std::filesystem::exists(image, ec)) {
        err << "quorvel: no disk image at " << image.string() << "\n";
        return false;
    }
    if (!std::filesystem::is_regular_file(image, ec)) {
        err << "quorvel: the disk image " << image.string() << " is not a file\n";
        return false;
    }
    std::ifstream file(image, std::ios::binary);
    char sector[512] = {};
    file.read(sector, sizeof sector);
    if (file.gcount() < 512 || static_cast<unsigned char>(sector[510]) != 0x55 ||
        static_cast<unsigned char>(sector[511]) != 0xAA) {
        err << "quorvel: the disk image " << image.string() << " holds no MBR (no 0x55 0xAA at byte 510)\n";
        return false;
    }
    return true;
}

// The checks that can be made before anything is booted; 0 when all passed.
int checkBeforeBoot(const Arguments& a, std::ostream& err) {
    for (const auto& [name, image] : a.disks)
        if (!usableDisk(image, err)) return 1;
    if (a.com1 && *a.com1 != "-" && !writable(*a.com1, "COM1's output", err)) return 1;
    if (a.json && !writable(*a.json, "the report", err)) return 1;
    if (a.saveMemory && !writableFolder(*a.saveMemory, err)) return 1;
    if (a.kernelFile) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(*a.kernelFile, ec)) {
            err << "quorvel: no kernel file at " << std::filesystem::absolute(*a.kernelFile).string() << "\n";
            return 1;
        }
    }
    return 0;
}

// The device's root folder: the one asked for, or the demo device prepared in
// `demo`; a non-zero exit status when there is none.
int deviceRoot(const Arguments& a, std::optional<DemoFolder>& demo, std::filesystem::path& root, std::ostream& err) {
    if (a.device) {
        root = *a.device;
        if (std::filesystem::is_directory(root)) return 0;
        err << "quorvel: no such device folder: " << root.string() << "\n";
        return 2;
    }
    demo.emplace();
    if (demo->path().empty() || !prepareDemoDevice(demo->path())) {
        err << "quorvel: can't prepare the demo device in " << std::filesystem::temp_directory_path().string() << "\n";
        return 1;
    }
    root = demo->path();
    return 0;
}

std::string text(const ce::WCHAR* w) { return sim::toUtf8(std::u16string_view(w, ce::wcslen(w))); }

// Where a kernel in a device folder is on this computer, for the message when it is
// not there.
std::optional<std::filesystem::path> hostPathOf(const BootMenu& menu, const std::filesystem::path& root) {
    std::string dir = text(menu.kernelDirectory);
    if (dir.empty() || dir[0] != '\\') return std::nullopt;
    std::replace(dir.begin(), dir.end(), '\\', '/');
    return root / dir.substr(1) / text(menu.kernelName);
}

// Where the kernel's serial output goes: the --com1 file after the boot loader's own
// lines on COM1, or standard output.
std::ostream& kernelSerial(const Arguments& a, std::ofstream& file, std::ostream& out) {
    if (!a.com1 || *a.com1 == "-") return out;
    file.open(*a.com1, std::ios::binary | std::ios::app);
    return file.is_open() ? static_cast<std::ostream&>(file) : out;
}

int exitStatusOf(sim::HaltReason reason) {
    switch (reason) {
    case sim::HaltReason::Halted:
    case sim::HaltReason::Returned:
    case sim::HaltReason::Stopped: return 0;
    case sim::HaltReason::Exception:
    case sim::HaltReason::UnmappedAccess:
    case sim::HaltReason::ProtectedAccess: return 3;
    case sim::HaltReason::BudgetExhausted:
    case sim::HaltReason::TimedOut: return 4;
    case sim::HaltReason::Interrupted: return 130;
    case sim::HaltReason::Failed: return 1;
    }
    return 1;
}

LogView viewFor(const Arguments& a) {
    if (a.quiet) return LogView::Quiet;
    if (a.log || a.chatty) return LogView::Full;
    return a.terminalOutput ? LogView::Bar : LogView::Progress;
}

// The last `count` lines of the boot log that say something: not blank, not the
// progress marks, not the registers the system report dumps.
std::vector<std::string> logTail(const std::string& log, std::size_t count) {
    std::vector<std::string> lines;
    std::size_t end = log.size();
    while (end > 0 && lines.size() < count) {
        std::size_t start = log.rfind('\n', end - 1);
        start = start == std::string::npos ? 0 : start + 1;
        std::string line = log.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        end = start > 0 ? start - 1 : 0;
        if (line.empty() || line.rfind("[progress]", 0) == 0 || line.rfind("Reg", 0) == 0 || line.rfind("CPSR", 0) == 0)
            continue;
        lines.insert(lines.begin(), line);
        if (start == 0) break;
    }
    return lines;
}

// Options as the boot would use them: from the device's file, then the flags, then
// the host files placed on the card. 0, or the exit status (with the message said):
// 2 for a bad flag, 1 when a file cannot be placed.
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
        if (placed.ours()) {
            std::lock_guard<std::mutex> guard(demoLock);
            placedPaths.push_back(to.string());
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

int boot(const Arguments& a, std::istream& in, std::ostream& out, std::ostream& err) {
    if (int status = checkBeforeBoot(a, err)) return status;
    std::optional<DemoFolder> demo;
    std::filesystem::path root;
    if (int status = deviceRoot(a, demo, root, err)) return status;
    if (demo && !a.kernelFile && !a.quiet) err << "quorvel: demo device, kernel \\Storage Card\\tamsel.gz (the sample kernel)\n";

    sim::DeviceSettings settings = baseSettings(a, root);
    {
        sim::Handheld reader(settings);
        theBootMenu();
    }
    BootMenu& menu = theBootMenu();
    PlacedFile placedKernel, placedImage;
    if (int status = prepareOptions(a, menu, root, placedKernel, placedImage, demo.has_value(), err)) {
        releaseBootMenu();
        return status;
    }
    if (auto host = hostPathOf(menu, root); host && !std::filesystem::exists(*host))
        err << "quorvel: note: no kernel file at " << host->string() << "\n";
    chooseCpu(a, menu.platform, settings);
    if (a.ramMegabytes) settings.ram = {{sim::dramBase(settings.cpu), *a.ramMegabytes << 20}};
    if (a.screenWidth) {
        settings.screenWidth = *a.screenWidth;
        settings.screenHeight = *a.screenHeight;
        settings.bitsPerPixel = *a.screenBits;
    }
    placeScreenFor(menu.platform, settings, a.screenWidth.has_value());
    if (a.com1) settings.com1Output = *a.com1;
    for (const auto& [name, image] : a.disks) settings.disks[wide(name)] = image;

    int status = 1;
    {
        sim::Handheld device(settings);
        device.messageBoxes().setPolicy(terminalMessageBoxes(in, err, {a.yes, a.terminalInput, a.quiet, a.dryRun}));
        sim::EmulationSettings& emulation = device.cpu().emulation;
        emulation.instructionBudget = a.maxInstructions;
        emulation.timeoutSeconds = a.timeoutSeconds;
        emulation.stopAt = a.dryRun || a.stopAt == "jump" ? sim::StopAt::Jump
                           : a.stopAt == "entry"         ? sim::StopAt::Entry
                                                         : sim::StopAt::Never;
        TerminalConsolePage consolePage(err, viewFor(a));
        bool kernelSpoke = false;
        std::ofstream com1File;
        std::ostream& serial = kernelSerial(a, com1File, out);
        emulation.uartOutput = [&](std::string_view bytes) {
            if (!kernelSpoke) consolePage.endBar();
            kernelSpoke = true;
            serial << bytes << std::flush;
        };
        // No main window: the boxes go to the terminal, and the "[progress] N" lines
        // of the log stand for the bar.
        menu.consoleTab = &consolePage;
        theBootContext();

        // A dry run loses nothing in memory: the safety question is not asked.
        bool go = a.dryRun || ui::confirmBoot(menu, nullptr);
        std::optional<sim::HandOverResult> result;
        if (go) {
            // Flags change this boot only; the device keeps its options unless asked.
            ui::setBootRunner([](BootMenu& m) {
                try {
                    bootResult() = sim::runBoot([&m] { m.startBoot(); });
                } catch (const std::exception& e) {
                    bootError() = e.what();
                }
            });
            bootResult().reset();
            bootError().clear();
            bool saved = true;
            ui::startBootSteps(menu, a.save, &saved);
            ui::setBootRunner(nullptr);
            if (!saved) err << "quorvel: can't save the options to the device's quorvel.cnf\n";
            if (!bootError().empty()) err << "quorvel: the hand-over could not run: " << bootError() << "\n";
            result = bootResult();
        }
        consolePage.endBar();
        if (result) {
            std::string uart = device.uart() ? device.uart()->sent() : std::string();
            // A UART console's lines are the boot's log, not the kernel's output.
            std::string bootLog = consolePage.log() + uart.substr(0, std::min(result->uartSentBefore, uart.size()));
            HandOverMap map = describeHandOver(device, *result, bootLog);
            if (auto* front = dynamic_cast<GzipFileManager*>(theBootContext().fileManagerSlot))
                map.inflatedBytes = front->inflatedBytes();
            if (kernelSpoke && !uart.empty() && uart.back() != '\n') serial << "\n" << std::flush;
            status = exitStatusOf(result->reason);
            std::string ended = result->describe();
            if (a.dryRun) {
                out << handOverText(map);
                ended = "dry run: stopped before the jump";
            } else if (a.chatty) {
                err << handOverText(map);
            }
            if (!a.quiet || status != 0) err << "quorvel: kernel " << (a.dryRun ? "not entered: " : "") << ended << "\n";
            if (status == 3 || status == 4 || status == 130 || a.chatty || (a.stopAt && !a.quiet))
                err << endStateText(device, *result, map);
            if (a.saveMemory && !saveMemory(device, *result, *a.saveMemory, err)) status = 1;
            if (a.json && !writeFile(*a.json, reportJson(device, *result, map, ended, status), err)) status = 1;
        } else {
            if (interruptedOutside.load()) status = 130;
            if (a.json) {
                std::string box;
                for (const sim::MessageBoxRecord& r : device.messageBoxes().shown())
                    if (r.caption == u"BOOT FAILED") box = sim::toUtf8(r.text);
                writeFile(*a.json,
                          "{\n  \"run\": {\"end\": \"" + std::string(go ? "boot-failed" : "not-started") +
                              "\", \"exit_status\": " + std::to_string(status) + ", \"failure\": \"" +
                              [&] {
                                  std::string t;
                                  for (char c : box) t += c == '\n' ? std::string("\\n") : c == '"' ? std::string("\\\"") : std::string(1, c);
                                  return t;
                              }() +
                              "\"}\n}\n",
                          err);
            }
            if (go && !a.quiet) {
                err << "quorvel: the boot failed before the jump\n";
                // The reason is in the log's last lines, which only --log shows in full.
                if (viewFor(a) != LogView::Full)
                    for (const std::string& line : logTail(consolePage.log(), 2)) err << "quorvel: log: " << line << "\n";
            }
        }
        releaseBootContext();
        menu.consoleTab = nullptr;
        releaseConsole();
    }
    releaseBootMenu();
    forgetPlaced();  // the PlacedFiles remove their files as this returns
    return status;
}

// The boot loader's own window on the simulated handheld: live in a desktop window,
// or headless with scripted taps and keys ending in a screenshot.
int gui(const Arguments& a, std::ostream& out, std::ostream& err) {
    for (const auto& [name, image] : a.disks)
        if (!usableDisk(image, err)) return 1;
    if (a.com1 && *a.com1 != "-" && !writable(*a.com1, "COM1's output", err)) return 1;
    std::optional<DemoFolder> demo;
    std::filesystem::path root;
    if (int status = deviceRoot(a, demo, root, err)) return status;

    sim::DeviceSettings settings = baseSettings(a, root);
    PlatformId platform{};
    {
        sim::Handheld reader(settings);
        BootMenu& saved = theBootMenu();
        if (saved.platform.cpu == 0 && saved.platform.machine == 0) saved.platformEntry(DEMO_PLATFORM, 1);
        platform = saved.platform;
        releaseConsole();
        releaseBootMenu();
    }
    chooseCpu(a, platform, settings);
    if (a.ramMegabytes) settings.ram = {{sim::dramBase(settings.cpu), *a.ramMegabytes << 20}};
    if (a.screenWidth) {
        settings.screenWidth = *a.screenWidth;
        settings.screenHeight = *a.screenHeight;
        settings.bitsPerPixel = *a.screenBits;
    }
    placeScreenFor(platform, settings, a.screenWidth.has_value());
    if (a.com1) settings.com1Output = *a.com1;
    for (const auto& [name, image] : a.disks) settings.disks[wide(name)] = image;

    sim::Handheld device(settings);
    sim::WindowSystem& windows = device.windows();
    std::ofstream com1File;
    std::ostream& serial = kernelSerial(a, com1File, out);
    device.cpu().emulation.uartOutput = [&serial](std::string_view bytes) { serial << bytes << std::flush; };
    BootMenu& menu = theBootMenu();
    // A device that never chose a platform starts on the demo device's.
    if (menu.platform.cpu == 0 && menu.platform.machine == 0) menu.platform = platform;

    // A boot that reaches the kernel ends the window's loop with the kernel's status.
    ui::setBootRunner([](BootMenu& m) {
        try {
            bootResult() = sim::runBoot([&m] { m.startBoot(); });
        } catch (const std::exception& e) {
            bootError() = e.what();
        }
        if (bootResult()) ce::PostQuitMessage(exitStatusOf(bootResult()->reason));
    });
    bootResult().reset();
    bootError().clear();

    int status = 0;
    if (a.screenshot) {
        std::vector<std::function<void()>> steps;
        if (a.tab && *a.tab != "main") {
            int index = *a.tab == "option" ? 1 : 2;
            steps.push_back([&windows, index] {
                auto* window = dynamic_cast<ui::MainWindow*>(theBootMenu().mainWindow);
                if (!window || !window->tabWindow()) return;
                ce::HWND tabs = window->tabWindow()->handle();
                sim::TabGeometry g = sim::tabGeometry(*windows.window(tabs));
                ce::RECT r = windows.screenRect(tabs);
                windows.tap(r.left + g.tabWidth / 2, r.top + index * g.tabHeight + g.tabHeight / 2);
            });
        }
        for (auto [x, y] : a.taps) steps.push_back([&windows, x = x, y = y] { windows.tap(x, y); });
        if (a.keys) steps.push_back([&windows, keys = *a.keys] { windows.type(sim::fromUtf8(keys)); });
        bool written = false;
        std::size_t next = 0;
        auto shoot = [&] {
            if (written) return;
            written = true;
            // After the hand-over the screen is the kernel's.
            if (!bootResult()) windows.paint(true);
            if (!sim::writePng(windows.frame(), a.screenshot->string())) {
                err << "quorvel: can't write the screenshot " << a.screenshot->string() << "\n";
                status = 1;
            }
        };
        windows.setIdle([&] {
            if (next < steps.size()) {
                steps[next++]();
                return true;
            }
            shoot();
            return false;
        });
        int code = ui::entry(ce::GetModuleHandleW(nullptr));
        shoot();  // a boot ended the loop: the screen as the kernel left it
        if (bootResult()) status = code;
    } else {
        sim::ScreenView view;
        bool closed = false;
        sim::ScreenInput input;
        input.tap = [&](int x, int y, bool down) { down ? windows.tapDown(x, y) : windows.tapUp(x, y); };
        input.key = [&](int key, bool down) { down ? windows.keyDown(key) : windows.keyUp(key); };
        input.character = [&](char16_t c) { windows.character(c); };
        input.close = [&] { closed = true; };
        windows.paint(true);
        if (!view.open(windows.frame(), input, 0, "quorvel")) {
            err << "quorvel: no screen to show the window on (" << view.error()
                << "); use --screenshot FILE.png to run without one\n";
            ui::setBootRunner(nullptr);
            releaseConsole();
            releaseBootMenu();
            return 1;
        }
        // While the kernel runs, its picture is shown whenever it speaks, at most
        // every 30 ms so the emulation is not held up.
        auto shownAt = std::chrono::steady_clock::now();
        device.cpu().emulation.uartOutput = [&](std::string_view bytes) {
            serial << bytes << std::flush;
            auto now = std::chrono::steady_clock::now();
            if (now - shownAt < std::chrono::milliseconds(30)) return;
            shownAt = now;
            view.refresh();
            if (!view.pump()) closed = true;
        };
        auto last = std::chrono::steady_clock::now();
        // The simulated clock follows the wall clock while the window waits.
        windows.setIdle([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            auto now = std::chrono::steady_clock::now();
            windows.advanceClock(static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count()));
            last = now;
            if (!view.pump()) closed = true;
            windows.paint();
            view.refresh();
            return !closed;
        });
        int code = ui::entry(ce::GetModuleHandleW(nullptr));
        if (bootResult()) {
            status = code;
            err << "quorvel: kernel " << bootResult()->describe() << "\n";
            // The kernel's own picture stays on the screen until the window is closed;
            // the window system paints no more.
            windows.setIdle(nullptr);
            view.setFrame(windows.frame());
            view.run([&] { return !closed; });
        }
    }
    if (!bootError().empty()) {
        err << "quorvel: the hand-over could not run: " << bootError() << "\n";
        status = 1;
    }
    windows.setIdle(nullptr);
    ui::setBootRunner(nullptr);
    return status;
}

int options(const Arguments& a, std::ostream& out, std::ostream& err) {
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

int platforms(std::ostream& out) {
    int index = 0;
    for (const PlatformName* row : selectablePlatforms()) {
        char line[128];
        std::snprintf(line, sizeof line, "%2d  cpu=0x%08x machine=0x%08x  ", index++, row->id->cpu, row->id->machine);
        out << line << sim::toUtf8(row->name) << "\n";
    }
    return 0;
}

}  // namespace

int runCommand(const Arguments& a, std::istream& in, std::ostream& out, std::ostream& err) {
    if (a.command == Command::Version || a.help) {
        out << a.usage << (a.usage.empty() || a.usage.back() == '\n' ? "" : "\n");
        return 0;
    }
    if (a.command == Command::Help) {
        out << usage(a.command);
        return 0;
    }
    switch (a.command) {
    case Command::Boot: return boot(a, in, out, err);
    case Command::Platforms: return platforms(out);
    case Command::Options: return options(a, out, err);
    case Command::Gui: return gui(a, out, err);
    case Command::Help:
    case Command::Version: break;
    }
    return 2;
}

void watchSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        bool asked = false;
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) continue;
            // In the emulator the run stops at its next block and the boot ends as
            // usual; a second signal, or one outside the emulator, ends the process
            // here, with the temporary files removed.
            if (!asked && sim::requestStop()) {
                asked = true;
                continue;
            }
            interruptedOutside.store(true);
            std::lock_guard<std::mutex> guard(demoLock);
            std::error_code ec;
            if (!demoPath.empty()) std::filesystem::remove_all(demoPath, ec);
            for (const std::string& path : placedPaths) std::filesystem::remove(path, ec);
            static const char message[] = "\nquorvel: interrupted\n";
            ssize_t ignored = write(2, message, sizeof message - 1);
            (void)ignored;
            _exit(130);
        }
    }).detach();
}

}  // namespace quorvel::app
