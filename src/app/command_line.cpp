// Parsing of the front end's command line, with CLI11.
#include "app/command_line.h"

#include <CLI/CLI.hpp>

#include "app/kernel_url.h"
#include "boot/boot_menu.h"
#include "sim/utf.h"
#include "sim/windows/key_names.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>

namespace quorvel::app {

namespace {

constexpr int MAX_SCREEN_SIDE = 4096;

const std::map<std::string, int> roots = {{"wd", 0}, {"sd", 1}, {"md", 2}, {"nfs", 3}, {"dk", 4}, {"ld", 5}};

template <typename T>
bool number(const std::string& text, T& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

// What the flags are read into before they become Arguments.
struct Raw {
    std::string root, screen, kernelFile, stopAt;
    std::string protocol, machineNumber, loadAddress, entry;
    std::vector<std::string> disks;
    bool serial = false, verbose = false, single = false, ask = false, debugger = false, pause = true, safety = true;
    CLI::Option *serialFlag = nullptr, *verboseFlag = nullptr, *singleFlag = nullptr, *askFlag = nullptr,
                *debuggerFlag = nullptr, *pauseFlag = nullptr, *safetyFlag = nullptr;
};

// A boolean option of the boot and its --no- form.
CLI::Option* toggle(CLI::App* app, const std::string& names, bool& value, const std::string& what) {
    return app->add_flag(names, value, what)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

void addDeviceFlags(CLI::App* app, Arguments& a, Raw& raw) {
    app->add_option("--device", a.device, "root folder of the handheld (default: a demo device made for this run)")
        ->group("Device");
    app->add_option("--card", a.cards, "a storage-card folder of the device (repeatable; default \"Storage Card\")")
        ->group("Device");
    app->add_option("--cpu", a.cpu, "processor (default: the platform's)")
        ->check(CLI::IsMember({"sa1100", "sa1110", "pxa250", "pxa270"}))
        ->group("Device");
    app->add_option("--ram", a.ramMegabytes, "populated RAM in megabytes (default 32)")
        ->check(CLI::Range(1, 256))
        ->group("Device");
    app->add_option("--screen", raw.screen, "screen as WIDTHxHEIGHTxBITS (default 640x240x16)")->group("Device");
    app->add_option("--com1", a.com1, "file that receives COM1's output, - for standard output")->group("Device");
    app->add_option("--disk", raw.disks, "a disk image as a block device: [DSKn:=]IMAGE (default DSK1:)")
        ->group("Device");
}

void addOptionFlags(CLI::App* app, Arguments& a, Raw& raw) {
    app->add_option("--platform", a.platform, "platform: name, unique prefix or index (see `quorvel platforms`)")
        ->group("Boot options");
    app->add_option("--dir", a.directory, "kernel directory: \\Storage Card\\ or /Storage Card/, 1:/ (UFS on DSK1:), http://host:port/")
        ->group("Boot options");
    app->add_option("--kernel", a.kernel, "kernel file name in that directory")->group("Boot options");
    app->add_option("--root", raw.root, "root file system (md loads --image)")
        ->check(CLI::IsMember({"wd", "sd", "md", "nfs", "dk", "ld"}))
        ->group("Boot options");
    app->add_option("--image", a.image, "file-system image for root md: a name in the kernel directory or a host file")
        ->group("Boot options");
    raw.serialFlag = toggle(app, "--serial-console,!--no-serial-console", raw.serial, "kernel flag h: serial console")
                         ->group("Boot options");
    raw.verboseFlag =
        toggle(app, "--boot-verbose,!--no-boot-verbose", raw.verbose, "kernel flag v: boot verbosely")->group("Boot options");
    raw.singleFlag =
        toggle(app, "-s,--single-user,!--no-single-user", raw.single, "kernel flag s: single user")->group("Boot options");
    raw.askFlag =
        toggle(app, "-a,--ask-name,!--no-ask-name", raw.ask, "kernel flag a: ask for the root device")->group("Boot options");
    raw.debuggerFlag = toggle(app, "-d,--kernel-debugger,!--no-kernel-debugger", raw.debugger,
                              "kernel flag d: enter the kernel debugger")
                           ->group("Boot options");
    app->add_option("--speed", a.speed, "COM1 speed")->check(CLI::IsMember({9600, 19200, 115200}))->group("Boot options");
    app->add_option("--extra", a.extra, "extra kernel options")->group("Boot options");
    raw.pauseFlag = toggle(app, "--pause,!--no-pause", raw.pause, "the \"Last chance...\" question before the jump")
                        ->group("Boot options");
    raw.safetyFlag = toggle(app, "--safety,!--no-safety", raw.safety,
                            "the safety question and the platform refusal check")
                         ->group("Boot options");
    app->add_flag("--save", a.save, "also write these options to the device's quorvel.cnf")->group("Boot options");
    app->add_option("--protocol", raw.protocol, "how the kernel is entered (default: linux for a kernel recognised as Linux)")
        ->check(CLI::IsMember({"native", "linux"}))
        ->group("Kernel");
    app->add_option("--machine-number", raw.machineNumber, "Linux's machine number (default: the platform's)")
        ->group("Kernel");
    app->add_option("--load-address", raw.loadAddress,
                    "physical address a raw binary or a zImage is laid at (zImage default: RAM base + 0x8000)")
        ->group("Kernel");
    app->add_option("--entry", raw.entry, "entry point of a raw binary or a zImage (default: its load address)")
        ->group("Kernel");
}

// A 32-bit number, decimal or 0x hexadecimal.
bool word(const std::string& text, std::uint32_t& value) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        auto [end, ec] = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
        return ec == std::errc() && end == text.data() + text.size();
    }
    return number(text, value);
}

// CLI11's own range check prints the largest double in full.
const CLI::Validator notNegative(
    [](std::string& text) { return !text.empty() && text[0] == '-' ? std::string("must not be negative") : std::string(); },
    "", "not negative");

// A time limit must be a finite number: "nan" and "inf" parse as doubles.
const CLI::Validator finiteSeconds(
    [](std::string& text) {
        char* end = nullptr;
        double value = std::strtod(text.c_str(), &end);
        return end != text.c_str() && *end == 0 && std::isfinite(value) ? std::string() : std::string("must be a finite number of seconds");
    },
    "", "finite");

// A budget past 64 bits would otherwise be cut to the largest one silently.
const CLI::Validator fitsSixtyFourBits(
    [](std::string& text) {
        std::uint64_t value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        return error == std::errc() && end == text.data() + text.size() ? std::string() : std::string("must be a whole number below 2^64");
    },
    "", "64-bit");

void addRunFlags(CLI::App* app, Arguments& a, Raw& raw) {
    app->add_option("kernel-file", raw.kernelFile,
                    "a kernel on this computer, shown on the storage card for this boot, or http://host[:port]/path");
    app->add_flag("-y,--yes", a.yes, "answer every question with YES")->group("Run");
    app->add_option("--max-instructions", a.maxInstructions, "stop the emulated kernel after N instructions (0: no limit)")
        ->check(notNegative)
        ->check(fitsSixtyFourBits)
        ->group("Run");
    app->add_option("--timeout", a.timeoutSeconds, "stop the emulated kernel after SECONDS (0: no limit)")
        ->check(notNegative)
        ->check(finiteSeconds)
        ->group("Run");
    app->add_option("--stop-at", raw.stopAt, "stop at the flat jump or at the kernel's entry point")
        ->check(CLI::IsMember({"jump", "entry"}))
        ->group("Run");
    app->add_option("--save-memory", a.saveMemory, "write the RAM banks and registers.json to DIR where the run ends")
        ->group("Run");
    app->add_option("--json", a.json, "write a report of the hand-over and the run to FILE")->group("Run");
    app->add_option("--emulator", a.emulator,
                    "what runs the kernel after the jump: unicorn (exact, counted) or qemu (a whole machine)")
        ->check(CLI::IsMember({"unicorn", "qemu"}))
        ->group("Run");
    app->add_option("--gdb", a.gdb, "with --emulator qemu: start halted, QEMU's debugger stub on [HOST:]PORT")
        ->group("Run");
    app->add_flag("--dry-run", a.dryRun, "load everything, show the copy list and the memory map, do not jump")
        ->group("Run");
    app->add_flag("--log", a.log, "the whole boot log, plain lines")->group("Terminal");
    app->add_flag("-v,--verbose", a.chatty, "the whole boot log and the details of the run")->group("Terminal");
    app->add_flag("-q,--quiet", a.quiet, "only errors and the kernel's output")->group("Terminal");
}

void setIfGiven(std::optional<bool>& target, const CLI::Option* flag, bool value) {
    if (flag && flag->count() > 0) target = value;
}

// CLI11 says what went wrong in its own words; these name the flag.
std::string explain(const CLI::ParseError& e, const std::vector<std::string>& words) {
    std::string what = e.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
        std::size_t colon = what.find(": ");
        std::string extra = colon == std::string::npos ? what : what.substr(colon + 2);
        if (std::size_t blank = extra.find(' '); blank != std::string::npos) extra.resize(blank);
        if (!words.empty() && extra == words[0] && extra[0] != '-') return "unknown command: " + extra;
        return "unknown option: " + extra;
    }
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
        std::size_t colon = what.find(':');
        if (colon != std::string::npos && what.find("missing") != std::string::npos)
            return "option " + what.substr(0, colon) + " needs a value";
    }
    return what;
}

struct Parser {
    Arguments a;
    Raw raw, rawOptions;  // each subcommand its own flags
    CLI::App app{"Boots a kernel the way quorvel does on a Windows CE handheld, on a simulated one.", "quorvel"};
    CLI::App* boot;
    CLI::App* platforms;
    CLI::App* options;
    CLI::App* gui;
    std::vector<std::string> taps;

    Parser() {
        app.set_version_flag("--version", "quorvel build " + std::to_string(BUILD_NUMBER));
        app.require_subcommand(0, 1);
        app.footer("Exit status of boot: 0 the kernel halted on its own (or stopped where asked), 1 the boot failed\n"
                   "before the jump, 2 usage, 3 the kernel faulted, 4 the instruction budget or time ran out,\n"
                   "130 interrupted.");
        boot = app.add_subcommand("boot", "boot a kernel: options start from the device's quorvel.cnf");
        boot->footer("A KERNEL-FILE is shown on the storage card for this boot (not copied), and the directory and name\n"
                     "point at it; a URL http://host[:port]/path sets them to the server and the path.\n"
                     "Options apply to this boot only; --save (with --device) writes them to quorvel.cnf.");
        platforms = app.add_subcommand("platforms", "list the selectable platforms with their index and ids");
        options = app.add_subcommand("options", "print the options a boot would use, without booting");
        addDeviceFlags(boot, a, raw);
        addOptionFlags(boot, a, raw);
        addRunFlags(boot, a, raw);
        addDeviceFlags(options, a, rawOptions);
        gui = app.add_subcommand("gui", "run the boot loader's window on the simulated handheld's screen");
        gui->footer("Without --screenshot the screen shows in a desktop window; closing it ends the program.");
        addDeviceFlags(gui, a, raw);
        gui->add_option("--screenshot", a.screenshot, "write the screen as PNG to FILE and exit (no window)")
            ->group("Screenshot");
        gui->add_option("--tab", a.tab, "page shown before the screenshot: main, option or console")
            ->check(CLI::IsMember({"main", "option", "console"}))
            ->group("Screenshot");
        gui->add_option("--tap", taps, "a tap at X,Y on the screen, before the screenshot (repeatable)")
            ->group("Screenshot");
        gui->add_option("--keys", a.keys, "text typed after the taps; keys by name: {Tab}, {Shift+Tab}, {Enter}, {Esc}, ...")
            ->group("Screenshot");
        gui->add_option("--scale", a.scale, "show each screen pixel as NxN desktop pixels (default: the largest that fits)")
            ->check(CLI::Range(1, 16));
        addOptionFlags(options, a, rawOptions);
    }

    CLI::App* chosen() {
        for (CLI::App* sub : {boot, platforms, options, gui})
            if (sub->parsed()) return sub;
        return &app;
    }
};

std::string finish(Parser& p) {
    Arguments& a = p.a;
    Raw& raw = p.options->parsed() ? p.rawOptions : p.raw;
    if (!raw.root.empty()) a.root = roots.at(raw.root);
    if (!raw.screen.empty()) {
        const std::string& v = raw.screen;
        int w = 0, h = 0, b = 0;
        std::size_t x1 = v.find('x'), x2 = v.find('x', x1 == std::string::npos ? 0 : x1 + 1);
        if (x1 == std::string::npos || x2 == std::string::npos || !number(v.substr(0, x1), w) ||
            !number(v.substr(x1 + 1, x2 - x1 - 1), h) || !number(v.substr(x2 + 1), b) || w <= 0 || h <= 0 || b <= 0)
            return "--screen takes WIDTHxHEIGHTxBITS: " + v;
        // The depths the screen can be drawn and saved in; sides kept small enough that
        // the frame's size stays far from wrapping 32 bits.
        if (w > MAX_SCREEN_SIDE || h > MAX_SCREEN_SIDE)
            return "--screen: width and height go up to " + std::to_string(MAX_SCREEN_SIDE) + ": " + v;
        if (b != 4 && b != 8 && b != 16 && b != 24 && b != 32) return "--screen: BITS is 4, 8, 16, 24 or 32: " + v;
        a.screenWidth = w;
        a.screenHeight = h;
        a.screenBits = b;
    }
    for (const std::string& v : p.taps) {
        std::size_t comma = v.find(',');
        int x = 0, y = 0;
        if (comma == std::string::npos || !number(v.substr(0, comma), x) || !number(v.substr(comma + 1), y))
            return "--tap takes X,Y: " + v;
        a.taps.emplace_back(x, y);
    }
    if (p.gui->parsed() && !a.screenshot && (a.tab || !a.taps.empty() || a.keys))
        return "--tab, --tap and --keys go with --screenshot";
    if (p.gui->parsed() && a.screenshot && a.scale) return "--scale is for the window, not --screenshot";
    if (a.keys) {
        std::string error;
        if (!sim::keyScript(sim::fromUtf8(*a.keys), error)) return error;
    }
    for (const std::string& v : raw.disks) {
        std::size_t eq = v.find('=');
        if (eq == std::string::npos) {
            a.disks.emplace_back("DSK1:", v);
        } else {
            if (eq == 0 || eq + 1 == v.size()) return "--disk takes [DSKn:=]IMAGE: " + v;
            // The UFS backend opens "DSKn:", n one digit ("n:/" in --dir).
            std::string name = v.substr(0, eq);
            for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (name.size() != 5 || name.compare(0, 3, "DSK") != 0 || !std::isdigit(static_cast<unsigned char>(name[3])) ||
                name[4] != ':')
                return "--disk: the disk name is DSKn: with n from 0 to 9 (DSK2: is read as --dir 2:/): " + v;
            a.disks.emplace_back(name, v.substr(eq + 1));
        }
    }
    if (a.directory && looksLikeUrl(*a.directory)) {
        std::string why;
        std::optional<std::string> dir = urlDirectory(*a.directory, why);
        if (!dir) return "--dir " + why;
        a.directory = *dir;
    }
    if (looksLikeUrl(raw.kernelFile)) {
        std::string why;
        std::optional<KernelUrl> url = parseKernelUrl(raw.kernelFile, why);
        if (!url) return why;
        if (a.directory || a.kernel) return "a kernel URL gives the directory and the name: it goes without --dir and --kernel";
        a.directory = url->directory;
        a.kernel = url->name;
        a.kernelUrlFolder = url->folder;
    } else if (!raw.kernelFile.empty()) {
        a.kernelFile = raw.kernelFile;
    }
    // The image is read through the kernel's own backend: a URL of its own would be
    // taken for a name in the kernel's folder.
    if (a.image && looksLikeUrl(*a.image))
        return "--image takes a name in the kernel's directory (beside a kernel URL: in its folder on the same server) or a "
               "host file, not a URL: " +
               *a.image;
    if (!raw.stopAt.empty()) a.stopAt = raw.stopAt;
    if (!raw.protocol.empty()) a.protocol = raw.protocol;
    const std::pair<const std::string*, std::optional<std::uint32_t>*> words[] = {
        {&raw.machineNumber, &a.machineNumber}, {&raw.loadAddress, &a.loadAddress}, {&raw.entry, &a.entry}};
    const char* const wordFlags[] = {"--machine-number", "--load-address", "--entry"};
    for (std::size_t i = 0; i < 3; ++i) {
        if (words[i].first->empty()) continue;
        std::uint32_t value = 0;
        if (!word(*words[i].first, value))
            return std::string(wordFlags[i]) + " takes a 32-bit number, decimal or 0x hexadecimal: " + *words[i].first;
        *words[i].second = value;
    }
    if ((a.loadAddress && *a.loadAddress % 4) || (a.entry && *a.entry % 4))
        return "--load-address and --entry must be word aligned (ARM code)";
    setIfGiven(a.serial, raw.serialFlag, raw.serial);
    setIfGiven(a.verbose, raw.verboseFlag, raw.verbose);
    setIfGiven(a.single, raw.singleFlag, raw.single);
    setIfGiven(a.ask, raw.askFlag, raw.ask);
    setIfGiven(a.debugger, raw.debuggerFlag, raw.debugger);
    setIfGiven(a.pause, raw.pauseFlag, raw.pause);
    setIfGiven(a.safety, raw.safetyFlag, raw.safety);
    if (a.quiet && (a.log || a.chatty)) return "--quiet goes with neither --log nor --verbose";
    if (a.gdb) {
        if (a.emulator != "qemu") return "--gdb goes with --emulator qemu";
        // Loopback unless a host is named: a debugger stub controls the whole machine.
        std::string port = *a.gdb;
        std::string host = "127.0.0.1";
        if (std::size_t colon = port.rfind(':'); colon != std::string::npos) {
            host = port.substr(0, colon);
            port = port.substr(colon + 1);
            if (host.empty()) return "--gdb takes [HOST:]PORT: " + *a.gdb;
        }
        unsigned portNumber = 0;
        if (!number(port, portNumber) || portNumber == 0 || portNumber > 65535)
            return "--gdb takes [HOST:]PORT with a port from 1 to 65535: " + *a.gdb;
        a.gdb = host + ":" + port;
    }
    if (a.emulator == "qemu" && a.stopAt == "entry")
        return "--stop-at entry needs the exact run: QEMU does not stop at the kernel's entry (use --gdb)";
    if (a.emulator == "qemu" && a.maxInstructions)
        return "--max-instructions needs the exact run: QEMU does not count instructions (use --timeout)";
    if (a.dryRun && a.stopAt) return "--dry-run stops before the jump; --stop-at has nothing to stop";
    // The options record holds so much; a longer line would reach the kernel cut short.
    if (a.extra && sim::fromUtf8(*a.extra).size() > EXTRA_OPTIONS_SIZE - 1)
        return "--extra holds at most " + std::to_string(EXTRA_OPTIONS_SIZE - 1) + " characters, the options' field; this has " +
               std::to_string(sim::fromUtf8(*a.extra).size());
    return "";
}

}  // namespace

std::string usage(Command command) {
    Parser p;
    switch (command) {
    case Command::Boot: return p.boot->help();
    case Command::Platforms: return p.platforms->help();
    case Command::Options: return p.options->help();
    case Command::Gui: return p.gui->help();
    default: return p.app.help();
    }
}

ParseResult parseCommandLine(const std::vector<std::string>& words) {
    Parser p;
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    try {
        p.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        p.a.help = true;
        p.a.usage = p.chosen()->help();
        return {p.a, "", "", ""};
    } catch (const CLI::CallForVersion&) {
        p.a.command = Command::Version;
        p.a.usage = p.app.version();
        return {p.a, "", "", ""};
    } catch (const CLI::ParseError& e) {
        return {std::nullopt, explain(e, words), p.chosen()->help(), p.chosen() == &p.app ? "" : p.chosen()->get_name()};
    }
    if (p.boot->parsed())
        p.a.command = Command::Boot;
    else if (p.platforms->parsed())
        p.a.command = Command::Platforms;
    else if (p.options->parsed())
        p.a.command = Command::Options;
    else if (p.gui->parsed())
        p.a.command = Command::Gui;
    else
        return {std::nullopt, "no command given", p.app.help(), ""};
    p.a.usage = p.chosen()->help();
    if (std::string error = finish(p); !error.empty()) return {std::nullopt, error, p.a.usage, p.chosen()->get_name()};
    return {p.a, "", "", ""};
}

}  // namespace quorvel::app
