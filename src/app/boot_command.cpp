// quorvel boot. A boot runs on two short-lived devices: the first only reads the
// configuration file (the options decide which processor the handheld has), the
// second is the handheld that boots.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/boot_failure.h"
#include "app/boot_options.h"
#include "app/boot_run.h"
#include "app/commands.h"
#include "app/hand_over_report.h"
#include "app/handheld_setup.h"
#include "app/json_text.h"
#include "app/platform_search.h"
#include "app/run_files.h"
#include "app/terminal.h"
#include "app/whole_machine.h"
#include "app/wide_text.h"
#include "boot/boot_context.h"
#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "sim/handheld.h"
#include "sim/utf.h"
#include "ui/boot_steps.h"

namespace quorvel::app {

namespace {

// The checks that can be made before anything is booted; 0 when all passed.
int checkBeforeBoot(const Arguments& a, std::ostream& err) {
    if (a.platform) {
        std::string why;
        if (!findPlatform(*a.platform, why)) {
            err << "quorvel: " << why << "\n";
            return 2;
        }
    }
    if (a.save && !a.device) {
        err << "quorvel: --save writes the device's quorvel.cnf and needs --device DIR: the demo device is made for "
               "this run only\n";
        return 2;
    }
    if (!usableDeviceFiles(a, err)) return 1;
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

// --save keeps the names of this boot: never one that is on the device only for it.
int checkSave(const Arguments& a, const sim::LinkedFiles& links, std::ostream& err) {
    if (!a.save || links.empty()) return 0;
    std::string names;
    for (const auto& [devicePath, hostPath] : links) names += (names.empty() ? "" : ", ") + sim::toUtf8(devicePath);
    err << "quorvel: --save would keep " << names << ", which the device holds for this boot only; copy the file to "
        << "the device's card and name it with --kernel or --image\n";
    return 2;
}

bool saveMemory(sim::Handheld& device, const sim::HandOverResult& result, const std::filesystem::path& folder,
                std::ostream& err) {
    for (const sim::RamBank& bank : device.memory().banks()) {
        char name[16];
        std::snprintf(name, sizeof name, "%08x", bank.base);
        const char* bytes = reinterpret_cast<const char*>(device.memory().host(sim::PhysicalAddress(bank.base)));
        if (!writeFile(folder / name, std::string(bytes, bank.size), err)) return false;
    }
    return writeFile(folder / "registers.json", jsonText(registersJson(result)), err);
}

LogView viewFor(const Arguments& a) {
    if (a.quiet) return LogView::Quiet;
    if (a.log || a.chatty) return LogView::Full;
    return a.terminalOutput ? LogView::Bar : LogView::Progress;
}

// The kernel's entry must lie in what was loaded: entered anywhere else it runs
// whatever RAM held before. "" when it does.
std::string entryOutsideKernel(sim::Handheld& device, const std::array<std::uint32_t, 4>& args, const std::string& log) {
    sim::HandOverResult jump;
    jump.jumpArguments = args;
    if (device.memory().contains(sim::PhysicalAddress(args[0]), 4))
        jump.entry = device.memory().readWord(sim::PhysicalAddress(args[0]));
    HandOverMap map = describeLoggedPieces(device, jump, log);
    if (map.segments.empty()) return "";
    std::uint32_t entry = map.fold(jump.entry);
    std::string segments;
    for (const Segment& s : map.segments) {
        std::uint32_t at = map.fold(s.paddr);
        if (entry - at < s.memSize) return "";
        char range[48];
        std::snprintf(range, sizeof range, "%s0x%08x-0x%08x", segments.empty() ? "" : ", ", at, at + s.memSize);
        segments += range;
    }
    char text[96];
    std::snprintf(text, sizeof text, "the kernel's entry point 0x%08x lies outside every loaded segment (", entry);
    return text + segments + ")";
}

}  // namespace

int bootCommand(const Arguments& a, std::istream& in, std::ostream& out, std::ostream& err) {
    if (int status = checkBeforeBoot(a, err)) return status;
    std::optional<RunFolder> demo;
    std::filesystem::path root;
    if (int status = deviceRoot(a, demo, root, err)) return status;

    sim::DeviceSettings settings = baseSettings(a, root);
    {
        sim::Handheld reader(settings);
        theBootMenu();
    }
    BootMenu& menu = theBootMenu();
    sim::LinkedFiles links;
    int prepared = prepareOptions(a, menu, root, links, demo.has_value(), err);
    if (!prepared) prepared = checkSave(a, links, err);
    if (prepared) {
        releaseBootMenu();
        return prepared;
    }
    settings.linkedFiles = links;
    if (demo && !a.quiet) {
        std::string kernel = kernelPathOf(menu);
        bool sample = links.empty() && kernel == "\\Storage Card\\tamsel.gz";
        err << "quorvel: demo device, kernel " << kernel << (sample ? " (the sample kernel)" : "") << "\n";
    }
    if (auto host = hostPathOf(menu, root, links); host && !std::filesystem::exists(*host))
        err << "quorvel: note: no kernel file at " << host->string() << "\n";
    fitHandheld(a, menu.platform, settings);
    // The whole machine is chosen before anything is booted: a platform QEMU has no
    // machine for is refused at once. qemu.sh beside saved memory at the jump needs it too.
    const bool wholeMachine = a.emulator == "qemu" && !a.dryRun;
    std::optional<sim::qemu::Machine> machine;
    if (wholeMachine || (a.stopAt == "jump" && a.saveMemory)) {
        sim::Handheld probe(settings);
        std::ostringstream why;
        machine = wholeMachineFor(probe, why);
        if (!machine && wholeMachine) {
            err << why.str();
            releaseBootMenu();
            return 2;
        }
        if (!machine && !a.quiet) err << "quorvel: note: no qemu.sh with the saved memory: " << why.str().substr(8);
    }
    std::optional<std::filesystem::path> kernelPath = hostPathOf(menu, root, links);
    if (a.kernelFile) kernelPath = std::filesystem::absolute(*a.kernelFile);

    int status = 1;
    {
        sim::Handheld device(settings);
        device.messageBoxes().setPolicy(terminalMessageBoxes(in, err, {a.yes, a.terminalInput, a.quiet, a.dryRun}));
        sim::EmulationSettings& emulation = device.cpu().emulation;
        emulation.instructionBudget = a.maxInstructions;
        emulation.timeoutSeconds = a.timeoutSeconds;
        emulation.stopAt = a.dryRun || a.stopAt == "jump" || wholeMachine ? sim::StopAt::Jump
                           : a.stopAt == "entry"         ? sim::StopAt::Entry
                                                         : sim::StopAt::Never;
        TerminalConsolePage consolePage(err, viewFor(a));
        bool kernelSpoke = false;
        char lastSent = '\n';
        std::ofstream com1File;
        std::ostream& serial = kernelSerial(a, com1File, out);
        const std::string serialName = a.com1 && *a.com1 != "-" ? *a.com1 : "standard output";
        // A write that fails (a full disk, a reader that has gone) ends the run: the
        // kernel's output would be lost.
        std::string serialError;
        emulation.uartOutput = [&](std::string_view bytes) {
            if (bytes.empty()) return;
            if (!kernelSpoke) consolePage.endBar();
            kernelSpoke = true;
            if (!serialError.empty()) return;
            lastSent = bytes.back();
            errno = 0;
            serial << bytes << std::flush;
            if (!serial) {
                serialError = errno ? std::strerror(errno) : "write failed";
                sim::requestStop();
            }
        };
        std::string refusal;
        emulation.beforeJump = [&](const std::array<std::uint32_t, 4>& args) {
            refusal = entryOutsideKernel(device, args, consolePage.log());
            return refusal;
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
            HandOverRun handOver;
            if (!handOver.startBootSteps(menu, a.save))
                err << "quorvel: can't save the options to the device's quorvel.cnf\n";
            if (!handOver.outcome().error.empty())
                err << "quorvel: the hand-over could not run: " << handOver.outcome().error << "\n";
            result = handOver.outcome().result;
        }
        consolePage.endBar();
        std::optional<sim::HandOverResult> atJump;
        if (result && refusal.empty() && wholeMachine && !a.stopAt && result->reason == sim::HaltReason::Stopped) {
            atJump = result;
            // The PXA-2x0 loader enters the kernel folded into the first 16 MB of SDRAM.
            std::uint32_t entry = machine->pxa ? 0xA0000000u | (result->entry & 0x00FFFFFFu) : result->entry;
            result = runWholeMachine(a, device, *atJump, {*machine, kernelPath, entry, emulation.uartOutput, err});
        }
        if (result && refusal.empty()) {
            std::string uart = device.uart() ? device.uart()->sent() : std::string();
            // A UART console's lines are the boot's log, not the kernel's output.
            std::string bootLog = consolePage.log() + uart.substr(0, std::min(result->uartSentBefore, uart.size()));
            // Read from memory only for what is shown or written: a large kernel's
            // copy list and symbol table cost a quiet run time for nothing.
            std::optional<HandOverMap> described;
            auto map = [&]() -> const HandOverMap& {
                if (!described) {
                    described = describeHandOver(device, *result, bootLog);
                    if (auto* front = dynamic_cast<GzipFileManager*>(theBootContext().fileManagerSlot))
                        described->inflatedBytes = front->inflatedBytes();
                }
                return *described;
            };
            if (kernelSpoke && lastSent != '\n' && serialError.empty()) serial << "\n" << std::flush;
            if (serialError.empty() && !device.com1().writeError.empty()) serialError = device.com1().writeError;
            status = exitStatusOf(result->reason);
            std::string ended = atJump ? describeWholeMachineEnd(*result, *machine) : result->describe();
            if (a.dryRun) {
                out << handOverText(map());
                ended = "dry run: stopped before the jump";
            } else if (a.chatty) {
                err << handOverText(map());
            }
            if (!serialError.empty()) {
                // The run was stopped for it, or the boot loader's own COM1 lines were lost.
                status = 1;
                ended = "serial output lost: can't write to " + serialName + ": " + serialError;
                err << "quorvel: " << ended << "\n";
            } else if (!a.quiet || status != 0) {
                err << "quorvel: kernel " << (a.dryRun ? "not entered: " : "") << ended << "\n";
            }
            if (status == 3 || status == 4 || status == 130 || a.chatty || (a.stopAt && !a.quiet))
                err << endStateText(device, *result, map());
            if (!atJump && status == 3)
                if (std::string hint = wholeMachineHint(device, *result); !hint.empty()) err << "quorvel: hint: " << hint << "\n";
            if (a.saveMemory && !saveMemory(device, *result, *a.saveMemory, err)) status = 1;
            if (a.saveMemory && a.stopAt == "jump" && machine &&
                !writeQemuScript(*a.saveMemory, *machine, device, *result, err))
                status = 1;
            if (a.json && !writeFile(*a.json, reportJson(device, *result, map(), ended, status), err)) status = 1;
        } else {
            if (interruptedOutsideEmulation()) status = 130;
            std::string box;
            for (const sim::MessageBoxRecord& r : device.messageBoxes().shown())
                if (r.caption == u"BOOT FAILED") box = sim::toUtf8(r.text);
            BootFailure failure;
            if (!refusal.empty()) {
                failure.cause = refusal;
                failure.lines = logTail(consolePage.log(), 3);
            } else if (go) {
                failure = explainFailure(consolePage.log(), box, menu, settings);
            } else {
                failure.cause = "the boot was not started: the safety question was answered no";
            }
            if (a.json) writeFile(*a.json, failureJson(go, status, box, failure.cause, failure.lines), err);
            if (go) {
                err << "quorvel: the boot failed before the jump: " << failure.cause << "\n";
                // The log's lines that led to it, which only --log shows in full.
                if (!a.quiet && viewFor(a) != LogView::Full)
                    for (const std::string& line : logTail(consolePage.log(), 2)) err << "quorvel: log: " << line << "\n";
            }
        }
        releaseBootContext();
        menu.consoleTab = nullptr;
        releaseConsole();
    }
    releaseBootMenu();
    return status;
}

}  // namespace quorvel::app
