// The quorvel program as a kernel developer runs it: exit statuses, what goes to
// standard output and standard error, the JSON report and the saved memory read back
// against the kernel file, live output and Ctrl-C. Stand-in kernels are assembled
// by arm-none-eabi-gcc.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/boot_harness.h"
#include "support/child_process.h"
#include "support/device.h"
#include "support/program_run.h"
#include "support/test_data.h"

using namespace testing_support;

extern char** environ;

namespace {

using Outcome = ProgramRun;

std::string quote(const std::string& word) { return shellQuote(word); }

// Runs the program with `temp` as its temporary folder and no terminal.
Outcome quorvel(const std::vector<std::string>& args, const std::filesystem::path& temp) {
    static int serial = 0;
    std::filesystem::path out = temp.parent_path() / ("out" + std::to_string(++serial));
    std::filesystem::path err = temp.parent_path() / ("err" + std::to_string(serial));
    return runProgram(QUORVEL_PROGRAM, args, {.out = out, .err = err, .temp = temp});
}

// Stand-in kernels linked where the sample kernel is.
const char* const SPIN = R"PY(
    .global _start
_start:
    ldr r1, =0x80050000
    adr r2, message
1:  ldrb r0, [r2], #1
    cmp r0, #0
    beq 3f
2:  ldr r3, [r1, #0x20]
    tst r3, #4
    beq 2b
    str r0, [r1, #0x14]
    b 1b
3:  add r4, r4, #1          @ runs for ever, never a branch to itself
    b 3b
message: .asciz "spinning\n"
)PY";
const char* const FAULT = R"PY(
    .global _start
_start:
    mov r5, #5
    ldr r0, =0x12345678
    str r5, [r0]
1:  b 1b
)PY";

class CommandLine : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(temp());
        kernel("spin", SPIN);
        kernel("fault", FAULT);
    }
    std::filesystem::path temp() const { return work.path() / "tmp"; }
    std::filesystem::path file(const std::string& name) const { return work.path() / name; }
    void kernel(const std::string& name, const char* source) {
        writeHostFile(file(name + ".S"), source);
        ToolResult built = runTool({"arm-none-eabi-gcc", "-nostdlib", "-march=armv4", "-Wl,-Ttext=0xC0200000",
                                    "-Wl,--build-id=none", "-o", file(name).string(), file(name + ".S").string()});
        ASSERT_EQ(built.status, 0) << built.output;
    }
    Outcome run(const std::vector<std::string>& args) {
        Outcome r = quorvel(args, temp());
        EXPECT_TRUE(std::filesystem::is_empty(temp())) << "a temporary file was left behind";
        return r;
    }
    // Starts `quorvel boot ARGS --yes` (ARGS quoted for the shell) on a kernel that runs
    // for ever, with its output in the two files, and returns once the kernel has
    // spoken (0 if it could not be started).
    pid_t startSpinning(const std::string& args, const std::filesystem::path& out, const std::filesystem::path& err) {
        std::string command = "exec env TMPDIR=" + quote(temp().string()) + " " + quote(QUORVEL_PROGRAM) + " boot " +
                              args + " --yes < /dev/null > " + quote(out.string()) + " 2> " + quote(err.string());
        pid_t pid = 0;
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return 0;
        bool spoke = false;
        for (int i = 0; i < 600 && !spoke; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            spoke = readHostFile(out).find("spinning") != std::string::npos;
        }
        EXPECT_TRUE(spoke) << readHostFile(err);
        return pid;
    }
    TempDir work;
};

TEST_F(CommandLine, ExitStatusesTellTheOutcomesApart) {
    writeHostFile(file("not-a-disk"), textData(4096, 3));
    writeHostFile(file("root.fs"), randomData(20000, 4));
    // The sample kernel made by gzip, its stored CRC then spoiled.
    std::string damaged = readHostFile(sampleKernelGzPath());
    damaged[damaged.size() - 5] = static_cast<char>(damaged[damaged.size() - 5] ^ 1);
    writeHostFile(file("crc.gz"), damaged);
    // A device whose card already holds another file of the kernel's name.
    writeHostFile(file("taken") / "Storage Card" / "spin", "someone else's spin");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        const char* out;  // expected in standard output ("" for nothing)
        const char* err;  // expected in standard error
    };
    const std::string gz = sampleKernelGzPath();
    const Case cases[] = {
        {"halts", {"boot", gz, "--yes"}, 0, "\nOK\r\n", "halted at 0xC0200008"},
        {"faults", {"boot", file("fault").string(), "--yes"}, 3, "", "unmapped write to 0x12345678"},
        {"fault names its instruction", {"boot", file("fault").string(), "--yes"}, 3, "", "str r5, [r0]  (in the kernel)"},
        {"budget", {"boot", file("spin").string(), "--yes", "--max-instructions", "100000"}, 4, "spinning\n",
         "instruction budget exhausted"},
        {"time limit", {"boot", file("spin").string(), "--yes", "--timeout", "0.5"}, 4, "spinning\n", "time limit reached"},
        {"kernel missing on the device", {"boot", "--kernel", "nothere", "--yes"}, 1, "", "/Storage Card/nothere"},
        {"host kernel missing", {"boot", "/nonexistent/kernel", "--yes"}, 1, "", "no kernel file at /nonexistent/kernel"},
        {"safety question unanswered", {"boot", gz}, 1, "", "nobody to answer"},
        {"unknown flag", {"boot", "--bogus"}, 2, "", "unknown option: --bogus"},
        {"flag without value", {"boot", "--kernel"}, 2, "", "option --kernel needs a value"},
        {"bad root", {"boot", "--root", "zz"}, 2, "", "--root"},
        {"negative budget", {"boot", "--max-instructions", "-1"}, 2, "", "--max-instructions"},
        {"budget past 64 bits", {"boot", "--max-instructions", "18446744073709551616"}, 2, "", "--max-instructions"},
        {"time limit not a number", {"boot", "--timeout", "nan"}, 2, "", "--timeout"},
        {"time limit infinite", {"boot", "--timeout", "inf"}, 2, "", "--timeout"},
        // The kernel would be given a line cut short.
        {"extra options longer than their field", {"boot", gz, "--extra", std::string(256, 'x'), "--yes"}, 2, "",
         "--extra holds at most 255 characters"},
        {"image given as a URL", {"boot", gz, "--image", "http://127.0.0.1:9/root.fs", "--yes"}, 2, "", "not a URL"},
        {"extra options that fill their field", {"boot", gz, "--extra", std::string(255, 'x'), "--yes"}, 0, "", "halted"},
        {"ambiguous platform", {"boot", gz, "--platform", "hp jornada 720", "--yes"}, 2, "", "HP Jornada 720 (German)"},
        {"disk without MBR", {"boot", "--disk", file("not-a-disk").string(), "--yes"}, 1, "", "holds no MBR"},
        {"disk that is a folder", {"boot", "--disk", work.path().string(), "--yes"}, 1, "", "is not a file"},
        {"unwritable COM1 file", {"boot", "--com1", "/nonexistent/com1", "--yes"}, 1, "", "No such file or directory"},
        {"host image", {"boot", gz, "--image", file("root.fs").string(), "--yes"}, 0, "\"m=root.fs\"", "halted"},
        {"kernel's name taken on the device",
         {"boot", "--device", file("taken").string(), "--platform", "9", file("spin").string(), "--yes"}, 1, "",
         "exists on the device already"},
        {"damaged kernel: the log's reason shown without --log", {"boot", file("crc.gz").string(), "--yes"}, 1, "",
         "quorvel: log: crc.gz: CRC mismatch"},
        {"host image missing", {"boot", gz, "--image", "/nonexistent/root.fs", "--yes"}, 1, "",
         "no image file at /nonexistent/root.fs"},
        {"unknown platform, near ones listed", {"boot", gz, "--platform", "jornada 999", "--yes"}, 2, "",
         "HP Jornada 820"},
        {"unwritable memory folder", {"boot", gz, "--yes", "--save-memory", "/proc/quorvel"}, 1, "", "can't make the folder"},
        {"stopped at the jump", {"boot", gz, "--yes", "--stop-at", "jump"}, 0, "", "stopped as asked"},
        {"screen smaller than the platform's frame, drawn on whole",
         {"boot", gz, "--yes", "--platform", "18", "--screen", "320x240x16"}, 0, "drew border and colour bars at 0x14200000",
         "halted"},
        {"platform by prefix, any case", {"boot", gz, "--yes", "--platform", "compaq ipaq h39"}, 0, "on PXA-2x0", "halted"},
        {"screen whose frame size wraps 32 bits",
         {"gui", "--screenshot", file("wrap.png").string(), "--screen", "65536x65537x16"}, 2, "", "--screen"},
        {"a key name --keys does not know",
         {"gui", "--screenshot", file("keys.png").string(), "--keys", "ab{Tabb}"}, 2, "", "no key is named {Tabb}"},
        {"a key name left open", {"gui", "--screenshot", file("keys.png").string(), "--keys", "{Tab"}, 2, "", "closing brace"},
        {"a scale for a screenshot", {"gui", "--screenshot", file("scale.png").string(), "--scale", "2"}, 2, "", "--scale"},
        {"a scale of nothing", {"gui", "--scale", "0"}, 2, "", "--scale"},
        {"screen depth that cannot be drawn", {"boot", gz, "--yes", "--screen", "640x240x3"}, 2, "", "--screen"},
        {"help", {"boot", "--help"}, 0, "--serial-console", ""},
        {"version", {"--version"}, 0, "quorvel build 16", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        // Standard output is the kernel's alone.
        EXPECT_EQ(r.out.find("[progress]"), std::string::npos);
        EXPECT_EQ(r.out.find("quorvel:"), std::string::npos);
    }
}

// The screen's and the disassembler's libraries are loaded by what uses them: a quiet
// boot on the terminal starts without SDL2, cairo, Capstone and the libraries behind
// them. The dynamic loader's own account says what it mapped.
TEST_F(CommandLine, ABootOnTheTerminalLoadsNoWindowLibraries) {
    ToolResult run = runTool({"env", "LD_DEBUG=libs", "TMPDIR=" + temp().string(), QUORVEL_PROGRAM, "boot", "--yes",
                              "-q", "--stop-at", "entry"});
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_NE(run.output.find("libdeflate"), std::string::npos) << "no loader account:\n" << run.output;
    for (const char* library : {"libSDL2", "libcairo", "libcapstone"})
        EXPECT_EQ(run.output.find(library), std::string::npos) << library << " loaded:\n" << run.output;
}

TEST_F(CommandLine, JsonReportAgreesWithTheKernelFile) {
    Outcome r = run({"boot", sampleKernelPath(), "--yes", "--boot-verbose", "--json", file("report.json").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    // Read back with Python's JSON reader and checked against readelf.
    const char* check = R"PY(
import json, subprocess, sys
report = json.load(open(sys.argv[1]))
elf = subprocess.run(["arm-none-eabi-readelf", "-lhW", sys.argv[2]], capture_output=True, text=True).stdout
entry = int(elf.split("Entry point address:")[1].split()[0], 16)
loads = [l.split() for l in elf.splitlines() if l.strip().startswith("LOAD")]
segments = [(int(l[3], 16), int(l[4], 16), int(l[5], 16)) for l in loads]
assert report["entry"] == entry, (report["entry"], entry)
got = [(s["paddr"], s["file_size"], s["mem_size"]) for s in report["segments"]]
assert got == segments, (got, segments)
copies = [l for l in report["page_links"] if l["kind"] == "copy"]
for paddr, filesz, memsz in segments:
    inside = sum(l["size"] for l in copies if paddr <= l["destination"] < paddr + filesz)
    assert inside == filesz, (hex(paddr), inside, filesz)
assert report["argv"] == ["tamsel", "v"], report["argv"]
assert report["boot_info"]["magic"] == 0x13536135
assert report["platform"] == "HP Jornada 720 (US/UK)" and report["cpu"] == "SA-11x0"
assert report["run"]["end"] == "halted" and report["run"]["exit_status"] == 0
assert report["ksyms"]["start"] == max(p + m for p, f, m in segments)
assert report["registers"]["r15"] == report["run"]["pc"]
assert report["run"]["seconds"] > 0
assert report["inflated_bytes"] == 0
)PY";
    writeHostFile(file("check.py"), check);
    ToolResult checked = runTool({"python3", file("check.py").string(), file("report.json").string(), sampleKernelPath()});
    EXPECT_EQ(checked.status, 0) << checked.output;

    // The gzip-compressed kernel: inflated once, headers, segments and symbols alike.
    r = run({"boot", sampleKernelGzPath(), "--yes", "--json", file("gzip.json").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string report = readHostFile(file("gzip.json"));
    EXPECT_NE(report.find("\"inflated_bytes\": " + std::to_string(readHostFile(sampleKernelPath()).size()) + ","),
              std::string::npos)
        << report;
}

TEST_F(CommandLine, MemoryAtTheEntryHoldsTheKernelSegmentsByteForByte) {
    struct Case {
        const char* name;
        const char* platform;
        const char* folded;  // where the loader puts the first 16 MB of the kernel
    };
    const Case cases[] = {{"StrongARM", "9", "0"}, {"XScale, destinations folded", "Compaq iPAQ H3900", "1"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::path saved = file(std::string("memory-") + c.folded);
        Outcome r = run({"boot", sampleKernelPath(), "--yes", "--platform", c.platform, "--stop-at", "entry", "--save-memory",
                     saved.string()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "") << "the kernel must not have run";
        const char* check = R"PY(
import json, os, struct, sys
folder, kernel, folded = sys.argv[1], open(sys.argv[2], "rb").read(), sys.argv[3] == "1"
banks = {int(n, 16): open(os.path.join(folder, n), "rb").read() for n in os.listdir(folder) if n != "registers.json"}
def at(address, size):
    for base, data in banks.items():
        if base <= address and address + size <= base + len(data):
            return data[address - base:address + size - base]
    raise SystemExit("not in RAM: %x" % address)
phoff, phentsize, phnum = struct.unpack_from("<I", kernel, 28)[0], *struct.unpack_from("<HH", kernel, 42)
entry = struct.unpack_from("<I", kernel, 24)[0]
fold = (lambda a: 0xA0000000 | (a & 0xFFFFFF)) if folded else (lambda a: a)
for i in range(phnum):
    kind, offset, vaddr, paddr, filesz, memsz = struct.unpack_from("<6I", kernel, phoff + i * phentsize)
    if kind != 1:
        continue
    assert at(fold(paddr), filesz) == kernel[offset:offset + filesz], "segment %d differs" % i
    assert at(fold(paddr) + filesz, memsz - filesz) == bytes(memsz - filesz), "segment %d not zeroed" % i
registers = json.load(open(os.path.join(folder, "registers.json")))
assert registers["r15"] == fold(entry), (hex(registers["r15"]), hex(entry))
)PY";
        writeHostFile(file("check.py"), check);
        ToolResult checked = runTool({"python3", file("check.py").string(), saved.string(), sampleKernelPath(), c.folded});
        EXPECT_EQ(checked.status, 0) << checked.output;
    }
}

TEST_F(CommandLine, OptionsChangeThisBootOnlyUnlessSaved) {
    std::filesystem::path device = file("device");
    std::filesystem::create_directories(device / "Storage Card");
    writeHostFile(device / "Storage Card" / "tamsel.gz", readHostFile(sampleKernelGzPath()));
    std::filesystem::path cnf = device / "Storage Card" / "quorvel.cnf";
    std::string d = device.string();

    Outcome r = run({"boot", "--device", d, "--platform", "9", "--dir", "/Storage Card", "--single-user", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("argv[1] \"s\""), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(cnf));

    r = run({"boot", "--device", d, "--platform", "9", "--dir", "/Storage Card/", "-s", "--save", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(cnf));
    r = run({"options", "--device", d});
    EXPECT_NE(r.out.find("single user        yes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("kernel directory   \\Storage Card\\"), std::string::npos) << r.out;
    r = run({"options", "--device", d, "--no-single-user"});
    EXPECT_NE(r.out.find("single user        no"), std::string::npos) << r.out;
    // Showing the options writes nothing to the card, not even a host image of a name
    // the card already holds.
    writeHostFile(file("root.fs"), randomData(3000, 5));
    writeHostFile(device / "Storage Card" / "root.fs", "the device's own root.fs");
    r = run({"options", "--device", d, "--image", file("root.fs").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("file-system image  root.fs"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("root file system   md"), std::string::npos) << r.out;
    EXPECT_EQ(readHostFile(device / "Storage Card" / "root.fs"), "the device's own root.fs");
    r = run({"boot", "--device", d, "--no-single-user", "--yes"});
    EXPECT_EQ(r.out.find("argv[1] \"s\""), std::string::npos) << r.out;
    r = run({"options", "--device", d});
    EXPECT_NE(r.out.find("single user        yes"), std::string::npos) << "an unsaved --no- form changed the file";
}

// --com1 FILE takes the kernel's serial output too, after the boot loader's banner;
// standard output then stays empty.
TEST_F(CommandLine, Com1FileReceivesTheKernelsSerialOutput) {
    std::filesystem::path com1 = file("com1.txt");
    Outcome r = run({"boot", sampleKernelGzPath(), "--yes", "--com1", com1.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::string serial = readHostFile(com1);
    EXPECT_EQ(serial.rfind("\r\n--------QUORVEL--------\r\n", 0), 0u) << serial;
    EXPECT_NE(serial.find("\nOK\r\n"), std::string::npos) << serial;
}

TEST_F(CommandLine, DryRunShowsTheHandOverWithoutJumping) {
    Outcome r = run({"boot", sampleKernelPath(), "--yes", "--dry-run"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* part : {"PageLink list", "kernel segment 0", "kernel symbols (ksyms)", "boot information page",
                             "second-stage loader page", "loader stack", "kernel entry 0xc0200000"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
    EXPECT_EQ(r.out.find("sample kernel at"), std::string::npos) << "the kernel ran";

    // Nothing is lost and nothing jumps: no one need answer, and no one is asked.
    r = run({"boot", sampleKernelPath(), "--dry-run"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("PageLink list"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("Data in memory will be lost"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("[y/N]"), std::string::npos) << r.err;
}

TEST_F(CommandLine, InterruptStopsTheKernelLiveOutputFirstAndLeavesNoTemporaryFolder) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::filesystem::path out = file("live.out"), err = file("live.err");
        // The kernel's output arrives while it runs; then the signal.
        pid_t pid = startSpinning(quote(file("spin").string()), out, err);
        ASSERT_GT(pid, 0);
        kill(pid, signal);
        int raw = 0;
        waitpid(pid, &raw, 0);
        EXPECT_TRUE(WIFEXITED(raw));
        EXPECT_EQ(WEXITSTATUS(raw), 130) << readHostFile(err);
        EXPECT_NE(readHostFile(err).find("interrupted at"), std::string::npos) << readHostFile(err);
        EXPECT_NE(readHostFile(err).find("r15"), std::string::npos);
        EXPECT_TRUE(std::filesystem::is_empty(temp())) << "the demo folder was left behind";
    }
}

// A kernel named by its path on the device's own card is the user's file: a second
// signal, which ends the process outside the emulator's orderly stop, must not take it
// with the files the run placed there.
TEST_F(CommandLine, InterruptKeepsTheKernelAlreadyOnTheDevice) {
    std::filesystem::path device = file("device");
    std::filesystem::path own = device / "Storage Card" / "spin";
    std::filesystem::create_directories(own.parent_path());
    std::filesystem::copy_file(file("spin"), own);
    std::filesystem::path out = file("own.out"), err = file("own.err");
    pid_t pid = startSpinning("--device " + quote(device.string()) + " --platform 9 " + quote(own.string()), out, err);
    ASSERT_GT(pid, 0);
    kill(pid, SIGINT);
    kill(pid, SIGTERM);
    int raw = 0;
    waitpid(pid, &raw, 0);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 130) << readHostFile(err);
    EXPECT_TRUE(std::filesystem::exists(own)) << "the user's kernel was removed\n" << readHostFile(err);
}

}  // namespace
