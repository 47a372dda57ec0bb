#include "app/whole_machine.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <ostream>

#include "app/run_files.h"
#include "app/temporary_files.h"
#include "sim/handheld.h"
#include "sim/qemu/qemu_run.h"

namespace quorvel::app {

namespace {

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool gzipped(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    unsigned char magic[2] = {};
    in.read(reinterpret_cast<char*>(magic), 2);
    return in.gcount() == 2 && magic[0] == 0x1F && magic[1] == 0x8B;
}

// The inflated kernel in `into`; false when it cannot be read.
bool inflate(const std::filesystem::path& from, const std::filesystem::path& into) {
    gzFile in = gzopen(from.c_str(), "rb");
    if (!in) return false;
    std::ofstream out(into, std::ios::binary | std::ios::trunc);
    char chunk[65536];
    int n = 0;
    while ((n = gzread(in, chunk, sizeof chunk)) > 0) out.write(chunk, n);
    bool ok = n == 0 && out.good();
    gzclose(in);
    return ok;
}

}  // namespace

std::optional<sim::qemu::Machine> wholeMachineFor(sim::Handheld& device, std::ostream& err) {
    std::string why;
    std::optional<sim::qemu::Machine> machine = sim::qemu::machineFor(device, why);
    if (!machine) err << "quorvel: --emulator qemu: " << why << "\n";
    return machine;
}

sim::HandOverResult runWholeMachine(const Arguments& a, sim::Handheld& device, const sim::HandOverResult& atJump,
                                    const WholeMachineRun& run) {
    sim::qemu::RunSettings settings;
    settings.timeoutSeconds = a.timeoutSeconds;
    settings.gdb = a.gdb;
    // The terminal types to the kernel; without a terminal, whatever standard input holds.
    settings.input = STDIN_FILENO;
    settings.output = run.output;
    std::optional<TemporaryFile> inflated;
    std::optional<std::filesystem::path> symbols = run.kernel;
    if (a.gdb && symbols && gzipped(*symbols)) {
        inflated.emplace("quorvel-kernel");
        if (!inflated->path().empty() && inflate(*symbols, inflated->path())) {
            symbols = inflated->path();
        } else {
            run.err << "quorvel: can't inflate " << symbols->string() << " for the debugger; it starts without symbols\n";
            symbols.reset();
        }
    }
    if (a.gdb) {
        settings.started = [&] {
            char entry[16];
            std::snprintf(entry, sizeof entry, "0x%08x", run.entry);
            std::string command = "gdb-multiarch -q";
            if (symbols) command += " " + shellQuoted(std::filesystem::absolute(*symbols).string());
            command += " -ex " + shellQuoted("target remote " + *a.gdb) + " -ex " + shellQuoted(std::string("break *") + entry) +
                       " -ex continue";
            run.err << "quorvel: QEMU's " << run.machine.name << " waits for the debugger on " << *a.gdb << "; run:\n"
                    << command << "\n"
                    << std::flush;
        };
    }
    return sim::qemu::runOnQemu(device, run.machine, atJump, settings);
}

std::string describeWholeMachineEnd(const sim::HandOverResult& result, const sim::qemu::Machine& machine) {
    char pc[16];
    std::snprintf(pc, sizeof pc, "0x%08X", result.pc);
    std::string at = std::string(" at ") + pc + " on QEMU's " + machine.name;
    switch (result.reason) {
    case sim::HaltReason::Halted: return "halted" + at;
    case sim::HaltReason::TimedOut: return "time limit reached" + at;
    case sim::HaltReason::Interrupted: return "interrupted" + at;
    case sim::HaltReason::Failed: return "not run: QEMU failed: " + result.error;
    default: return result.describe();
    }
}

std::string wholeMachineHint(sim::Handheld& device, const sim::HandOverResult& result) {
    std::string why;
    std::string machine;
    if (std::optional<sim::qemu::Machine> m = sim::qemu::machineFor(device, why)) machine = "QEMU's " + m->name;
    if (machine.empty()) return "";
    const std::string go = "; --emulator qemu runs it on " + machine + ", which has the devices";
    sim::PhysicalMemory& memory = device.memory();
    if (result.reason == sim::HaltReason::Exception) {
        static const std::pair<const char*, std::uint32_t> vectors[] = {
            {"undefined instruction", 0x04}, {"software interrupt", 0x08}, {"prefetch abort", 0x0C},
            {"data abort", 0x10},           {"interrupt", 0x18},          {"fast interrupt", 0x1C}};
        for (const auto& [name, offset] : vectors) {
            if (result.exception != name) continue;
            const std::uint32_t va = ((result.control & 0x2000) ? 0xFFFF0000u : 0) + offset;
            std::optional<std::uint32_t> pa =
                sim::physicalAddressOf(memory, result.control, result.translationTable, result.processId, va);
            if (!pa || !memory.contains(sim::PhysicalAddress(*pa), 4)) return "";
            const std::uint32_t word = memory.readWord(sim::PhysicalAddress(*pa));
            if (word == 0 || word == 0xFFFFFFFFu) return "";
            char where[16];
            std::snprintf(where, sizeof where, "0x%08X", va);
            return std::string("the kernel has its own vector for the ") + name + " at " + where +
                   ", but this emulator stops at every exception" + go;
        }
        return "";
    }
    if (result.reason == sim::HaltReason::UnmappedAccess && result.faultAddress != result.pc &&
        !memory.contains(sim::PhysicalAddress(result.faultAddress))) {
        char where[16];
        std::snprintf(where, sizeof where, "0x%08X", result.faultAddress);
        return std::string("the kernel reached for a device at ") + where + " that this emulator does not model" + go;
    }
    return "";
}

bool writeQemuScript(const std::filesystem::path& folder, const sim::qemu::Machine& machine, sim::Handheld& device,
                     const sim::HandOverResult& atJump, std::ostream& err) {
    std::vector<std::uint8_t> code = sim::qemu::startCode(machine, device, atJump);
    if (!writeFile(folder / "start.bin", std::string(code.begin(), code.end()), err)) return false;
    std::filesystem::path script = folder / "qemu.sh";
    if (!writeFile(script, sim::qemu::shellScript(machine), err)) return false;
    std::error_code ec;
    std::filesystem::permissions(script, std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
                                             std::filesystem::perms::others_exec,
                                 std::filesystem::perm_options::add, ec);
    return true;
}

}  // namespace quorvel::app
