// quorvel as a kernel developer meets it, through the built program: failures that
// name their cause in one line (with -q and in --json too), kernels by URL, UFS
// cards made by makefs and sfdisk, faults named by the kernel's own symbols, and no
// file left behind or made unasked, whatever ends the run.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/boot_harness.h"
#include "support/child_process.h"
#include "support/device.h"
#include "support/disk_images.h"
#include "support/http_servers.h"
#include "support/program_run.h"
#include "support/test_data.h"

using namespace testing_support;

extern char** environ;

namespace {

std::string quote(const std::string& word) { return shellQuote(word); }

using Outcome = ProgramRun;

// Every file and folder under `root`, as paths relative to it.
std::set<std::string> tree(const std::filesystem::path& root) {
    std::set<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec); it != std::filesystem::recursive_directory_iterator();
         it.increment(ec))
        names.insert(std::filesystem::relative(it->path(), root).string());
    return names;
}

const char* const HELLO = R"(
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
3:  b 3b
message: .asciz "hello\n"
)";
// Says "spinning" and then runs for ever, in a function of its own.
const char* const SPIN = R"(
    .global _start
_start:
    ldr r1, =0x80050000
    adr r2, message
1:  ldrb r0, [r2], #1
    cmp r0, #0
    beq spin
2:  ldr r3, [r1, #0x20]
    tst r3, #4
    beq 2b
    str r0, [r1, #0x14]
    b 1b
message: .asciz "spinning\n"
    .balign 4
    .global spin
    .type spin, %function
spin:
    add r4, r4, #1
    b spin
    .size spin, . - spin
)";
// Says "yes" for ever: a reader that goes away ends it.
const char* const YES = R"(
    .global _start
_start:
    ldr r1, =0x80050000
1:  adr r2, message
2:  ldrb r0, [r2], #1
    cmp r0, #0
    beq 1b
3:  ldr r3, [r1, #0x20]
    tst r3, #4
    beq 3b
    str r0, [r1, #0x14]
    b 2b
message: .asciz "yes\n"
)";
// Faults in a function called from _start.
const char* const FAULT = R"(
    .global _start
_start:
    mov r5, #5
    bl work
1:  b 1b
    .global work
    .type work, %function
work:
    ldr r0, =0x12345678
    str r5, [r0]
    bx lr
    .size work, . - work
)";
// 40 MB of bss: past a 32 MB handheld's RAM.
const char* const BIG_BSS = "    .global _start\n_start:\n    b _start\n    .bss\n    .lcomm big, 40000000\n";
// 20 MB of data: fits, but not twice (the pool and the destinations) in 32 MB.
const char* const BIG_DATA = "    .global _start\n_start:\n    b _start\n    .data\n    .space 20000000, 1\n";

class KernelDeveloper : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(temp());
        std::filesystem::create_directories(device() / "Storage Card");
        kernel("hello", HELLO);
        kernel("spin", SPIN);
        kernel("fault", FAULT);
    }
    std::filesystem::path temp() const { return work.path() / "tmp"; }
    std::filesystem::path device() const { return work.path() / "device"; }
    std::filesystem::path file(const std::string& name) const { return work.path() / name; }
    void kernel(const std::string& name, const char* source, const std::string& extra = "") {
        writeHostFile(file(name + ".S"), source);
        std::vector<std::string> argv = {"arm-none-eabi-gcc", "-nostdlib", "-march=armv4", "-Wl,-Ttext=0xC0200000",
                                         "-Wl,--build-id=none", "-o", file(name).string(), file(name + ".S").string()};
        if (!extra.empty()) argv.push_back(extra);
        ToolResult built = runTool(argv);
        ASSERT_EQ(built.status, 0) << built.output;
    }
    // Runs the program with `temp` as its temporary folder and no terminal; nothing
    // may be left there.
    Outcome run(const std::vector<std::string>& args) {
        Outcome r = runProgram(QUORVEL_PROGRAM, args,
                               {.out = file("out"), .err = file("err"), .temp = temp(), .cwd = work.path()});
        EXPECT_TRUE(std::filesystem::is_empty(temp())) << "left behind: " << *tree(temp()).begin();
        return r;
    }
    // Starts `quorvel boot ARGS` (quoted for the shell) and returns once the kernel
    // has said `word` (0 when it could not be started).
    pid_t start(const std::string& args, const std::string& word) {
        std::string command = "exec env TMPDIR=" + quote(temp().string()) + " " + quote(QUORVEL_PROGRAM) + " boot " + args +
                              " < /dev/null > " + quote(file("live.out").string()) + " 2> " +
                              quote(file("live.err").string());
        pid_t pid = 0;
        const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return 0;
        bool said = word.empty();
        for (int i = 0; i < 600 && !said; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            said = readHostFile(file("live.out")).find(word) != std::string::npos;
        }
        EXPECT_TRUE(said) << readHostFile(file("live.err"));
        return pid;
    }
    // A card image: the files of `tree` in a file system made by makefs (`version` 1
    // or 2) from sector 63 in an MBR partition of `type`, with a BSD label when asked.
    std::filesystem::path card(const std::string& name, const std::filesystem::path& files, int version,
                               std::uint8_t type, bool label) {
        std::filesystem::path fs = file(name + ".fs"), disk = file(name);
        std::string failure;
        ToolResult made = runTool({"makefs", "-t", "ffs", "-o", "version=" + std::to_string(version), "-s", "4m",
                                   fs.string(), files.string()});
        EXPECT_EQ(made.status, 0) << made.output;
        std::uint32_t sectors = static_cast<std::uint32_t>(std::filesystem::file_size(fs) / IMAGE_SECTOR);
        EXPECT_TRUE(makeMbrDisk(disk, 63 + sectors + 64, {{63, sectors, type}}, &failure)) << failure;
        copyInto(disk, 63, fs);
        if (label) writeAt(disk, 64 * static_cast<std::uint64_t>(IMAGE_SECTOR), bsdLabel(63 + sectors + 64, {{63, sectors}}));
        return disk;
    }
    TempDir work;
};

TEST_F(KernelDeveloper, EveryFailureNamesItsCauseInOneLineWithQuietAndInTheReport) {
    kernel("big-bss", BIG_BSS);
    kernel("big-data", BIG_DATA);
    kernel("entry-outside", HELLO, "-Wl,-e,0xC0100000");
    std::filesystem::create_directories(file("cardfiles"));
    std::filesystem::copy_file(file("hello"), file("cardfiles") / "kernel");
    std::filesystem::path linux83 = card("linux83.img", file("cardfiles"), 1, 0x83, false);
    std::filesystem::path ufs2 = card("ufs2.img", file("cardfiles"), 2, 0xA9, true);
    std::filesystem::path good = card("good.img", file("cardfiles"), 1, 0xA9, true);
    std::filesystem::create_directories(file("served"));
    std::filesystem::copy_file(file("hello"), file("served") / "hello");
    std::string failure;
    auto server = HttpServer::start(HttpServer::Kind::Python, file("served"), &failure);
    ASSERT_TRUE(server) << failure;
    const std::string site = "http://127.0.0.1:" + std::to_string(server->port());
    std::filesystem::create_directories(file("not-a-device"));
    const std::string d = device().string();

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        const char* cause;  // in standard error's one line, and in the report's cause
    };
    const Case cases[] = {
        {"https refused", {"boot", "https://example.org/k"}, 2, "https:// is not supported"},
        {"other schemes refused", {"boot", "ftp://example.org/k"}, 2, "ftp:// is not supported"},
        {"--dir with https", {"boot", "--dir", "HTTPS://example.org/"}, 2, "https:// is not supported"},
        {"a disk name that is no DSKn:", {"boot", "hello", "--disk", "XYZ=" + good.string()}, 2, "DSKn:"},
        {"HTTP status with its reason", {"boot", site + "/nothere"}, 1, "the server answered 404 Not Found to GET /nothere"},
        {"type-83 partition", {"boot", "--dir", "1:/", "--kernel", "kernel", "--disk", linux83.string()}, 1,
         "no partition of type A5 or A9 (it has 83)"},
        {"UFS2", {"boot", "--dir", "1:/", "--kernel", "kernel", "--disk", ufs2.string()}, 1,
         "UFS2 file system, not UFS1 (make it with makefs -t ffs -o version=1)"},
        {"the disk the directory names is not there", {"boot", "--dir", "2:/", "--kernel", "kernel", "--disk", good.string()},
         1, "no disk DSK2: for the kernel directory 2:/ (give one with --disk DSK2:=IMAGE)"},
        {"no such file on the card", {"boot", "--dir", "1:/", "--kernel", "nothere", "--disk", good.string()}, 1,
         "no file \"nothere\" in the UFS file system on DSK1:"},
        {"a kernel past the RAM", {"boot", "big-bss"}, 1, "Try --ram 41"},
        {"a kernel that does not fit twice", {"boot", "big-data"}, 1, "try --ram"},
        {"entry outside every segment", {"boot", "entry-outside"}, 1, "entry point 0xc0100000 lies outside every loaded segment"},
        {"a folder that is not a device", {"boot", "--device", file("not-a-device").string(), "hello"}, 2,
         "is not a device folder"},
        {"--save on the demo device", {"boot", "hello", "--save"}, 2, "needs --device DIR"},
        {"--save of a host kernel", {"boot", "--device", d, "--platform", "9", "hello", "--save"}, 2,
         "which the device holds for this boot only"},
        {"options --save of a host image", {"options", "--device", d, "--image", "hello", "--save"}, 2, "--save writes"},
        {"serial output to a full disk", {"boot", "hello", "--com1", "/dev/full"}, 1,
         "can't write to /dev/full: No space left on device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        bool boots = args[0] == "boot";
        if (boots) args.insert(args.end(), {"--yes", "-q", "--json", file("report.json").string()});
        std::filesystem::remove(file("report.json"));
        Outcome r = run(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Usage:"), std::string::npos) << "the whole help for one mistake";
        EXPECT_EQ(r.out.find("hello"), std::string::npos) << r.out;
        if (c.status == 1 && boots && std::string(c.name) != "serial output to a full disk") {
            nlohmann::json report = nlohmann::json::parse(readHostFile(file("report.json")));
            EXPECT_NE(report["run"]["cause"].get<std::string>().find(c.cause), std::string::npos) << report.dump(2);
            EXPECT_FALSE(report["run"]["error"].empty()) << report.dump(2);
        }
    }
    // The same card with the partition and label right boots.
    Outcome r = run({"boot", "--dir", "1:/", "--kernel", "kernel", "--disk", good.string(), "--yes", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "hello\n");
    // A usage mistake is one line and where to read more.
    r = run({"boot", "--bogus"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "quorvel: unknown option: --bogus\nRun 'quorvel boot --help' for its options.\n");
}

TEST_F(KernelDeveloper, KernelsComeFromAUrlWhateverTheSchemesCase) {
    std::filesystem::create_directories(file("served") / "kernels");
    std::filesystem::copy_file(file("hello"), file("served") / "kernels" / "hello");
    std::string failure;
    auto server = HttpServer::start(HttpServer::Kind::Python, file("served"), &failure);
    ASSERT_TRUE(server) << failure;
    const std::string host = "127.0.0.1:" + std::to_string(server->port());
    for (const std::string scheme : {"http", "HTTP", "Http"}) {
        SCOPED_TRACE(scheme);
        Outcome r = run({"boot", scheme + "://" + host + "/kernels/hello", "--yes", "-q"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "hello\n");
    }
    // A --dir whose path the backend drops says so, and names the URL that works.
    Outcome r = run({"boot", "--dir", "http://" + host + "/kernels/", "--kernel", "hello", "--yes", "-q"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the path /kernels/ of --dir is not used (boot http://" + host + "/kernels/NAME"),
              std::string::npos)
        << r.err;
}

TEST_F(KernelDeveloper, NothingIsLeftBehindWhicheverSignalEndsTheRun) {
    const std::set<std::string> before = tree(device());
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        SCOPED_TRACE(strsignal(signal));
        for (bool onDevice : {false, true}) {
            SCOPED_TRACE(onDevice ? "the user's device" : "the demo device");
            std::string args = quote(file("spin").string()) + " --yes";
            if (onDevice) args += " --device " + quote(device().string()) + " --platform 9";
            pid_t pid = start(args, "spinning");
            ASSERT_GT(pid, 0);
            // The host kernel is read where it is: no copy on the card.
            for (const auto& entry : std::filesystem::directory_iterator(temp()))
                EXPECT_FALSE(std::filesystem::exists(entry.path() / "Storage Card" / "spin"));
            kill(pid, signal);
            int raw = 0;
            waitpid(pid, &raw, 0);
            EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 130) << readHostFile(file("live.err"));
            EXPECT_NE(readHostFile(file("live.err")).find("  (in the kernel) at spin+0x"),
                      std::string::npos)
                << readHostFile(file("live.err"));
            EXPECT_TRUE(std::filesystem::is_empty(temp())) << *tree(temp()).begin();
            EXPECT_EQ(tree(device()), before) << "the device folder changed";
        }
    }
    // A reader that goes away: the failed write ends the run.
    kernel("yes", YES);
    std::string command = "TMPDIR=" + quote(temp().string()) + " " + quote(QUORVEL_PROGRAM) + " boot " +
                          quote(file("yes").string()) + " --yes -q 2> " + quote(file("err").string()) +
                          " | head -1 > /dev/null; echo ${PIPESTATUS[0]}";
    ToolResult piped = runTool({"bash", "-c", command});
    EXPECT_EQ(piped.output, "1\n");
    EXPECT_NE(readHostFile(file("err")).find("can't write to standard output: Broken pipe"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(temp()));

    // Outside the emulator: waiting for a server that never answers.
    SilentListener silent;
    pid_t pid = start("http://127.0.0.1:" + std::to_string(silent.port()) + "/k --yes", "");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(pid, SIGHUP);
    int raw = 0;
    waitpid(pid, &raw, 0);
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 130) << readHostFile(file("live.err"));
    EXPECT_TRUE(std::filesystem::is_empty(temp()));
}

TEST_F(KernelDeveloper, AfterAKillTheNextRunSweepsOnlyWhatDeadRunsLeft) {
    pid_t pid = start(quote(file("spin").string()) + " --yes", "spinning");
    ASSERT_GT(pid, 0);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::set<std::string> left = tree(temp());
    ASSERT_FALSE(left.empty()) << "SIGKILL leaves the run's folder";
    // A live process's folder (this test's pid and start time), a folder of this pid
    // from another start, and folders that are not a run's.
    std::string self;
    {
        std::ifstream stat("/proc/self/stat");
        std::getline(stat, self);
        std::istringstream fields(self.substr(self.rfind(')') + 1));
        std::string field;
        for (int n = 3; n <= 22 && fields >> field; ++n) self = field;
    }
    const std::string pidText = std::to_string(getpid());
    std::filesystem::create_directories(temp() / ("quorvel-run-" + pidText + "-" + self + "-aaaaaa"));
    std::filesystem::create_directories(temp() / ("quorvel-run-" + pidText + "-1-bbbbbb"));
    std::filesystem::create_directories(temp() / "quorvel-run-notes");
    writeHostFile(temp() / "quorvel-run-1-2-cccccc", "a file, not a run's folder");
    Outcome r;
    {
        std::string command = "TMPDIR=" + quote(temp().string()) + " " + quote(QUORVEL_PROGRAM) + " boot " +
                              quote(file("hello").string()) + " --yes -q";
        ToolResult ran = runTool({"sh", "-c", command});
        EXPECT_EQ(ran.output, "hello\n");
    }
    EXPECT_EQ(tree(temp()), (std::set<std::string>{"quorvel-run-" + pidText + "-" + self + "-aaaaaa",
                                                   "quorvel-run-notes", "quorvel-run-1-2-cccccc"}));
}

TEST_F(KernelDeveloper, OptionsSaveAndTheBannerNamesTheKernelBooted) {
    const std::string d = device().string();
    Outcome r = run({"options", "--device", d, "--platform", "Compaq iPAQ H3900", "--single-user", "--extra", "x=1", "--save"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = run({"options", "--device", d});
    EXPECT_NE(r.out.find("platform           Compaq iPAQ H3900"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("single user        yes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("extra options      x=1"), std::string::npos) << r.out;

    r = run({"boot", file("hello").string(), "--yes"});
    EXPECT_NE(r.err.find("quorvel: demo device, kernel \\Storage Card\\hello\n"), std::string::npos) << r.err;
    r = run({"boot", "--kernel", "other.gz", "--yes"});
    EXPECT_NE(r.err.find("quorvel: demo device, kernel \\Storage Card\\other.gz\n"), std::string::npos) << r.err;
    r = run({"boot", "--yes", "--max-instructions", "10"});
    EXPECT_NE(r.err.find("kernel \\Storage Card\\tamsel.gz (the sample kernel)"), std::string::npos) << r.err;
}

// The fault report names the kernel's own symbols for the pc and lr, in the text and
// the JSON, and gives the entry where the kernel runs beside the file's.
TEST_F(KernelDeveloper, FaultsAreNamedByTheKernelsSymbols) {
    for (const char* platform : {"9", "Compaq iPAQ H3900"}) {
        SCOPED_TRACE(platform);
        Outcome r = run({"boot", file("fault").string(), "--yes", "--platform", platform, "--json", file("f.json").string()});
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_NE(r.err.find(": str r5, [r0]  (in the kernel) at work+0x4\n"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(" at _start+0x8\n"), std::string::npos) << r.err;
        nlohmann::json report = nlohmann::json::parse(readHostFile(file("f.json")));
        EXPECT_EQ(report["run"]["pc_symbol"], "work+0x4");
        EXPECT_EQ(report["run"]["lr_symbol"], "_start+0x8");
        bool pxa = std::string(platform) != "9";
        EXPECT_EQ(report["file_entry"], 0xC0200000u);
        EXPECT_EQ(report["entry"], pxa ? 0xA0200000u : 0xC0200000u);
    }
    // The sample kernel stopped by its budget: the pc's symbol is the one nm names.
    Outcome r = run({"boot", sampleKernelPath(), "--yes", "--max-instructions", "3000", "--json", file("s.json").string()});
    EXPECT_EQ(r.status, 4) << r.err;
    nlohmann::json report = nlohmann::json::parse(readHostFile(file("s.json")));
    std::uint32_t pc = report["run"]["pc"];
    std::string symbol = report["run"]["pc_symbol"];
    ASSERT_FALSE(symbol.empty());
    ToolResult nm = runTool({"arm-none-eabi-nm", "-n", "--defined-only", sampleKernelPath()});
    std::string expected;
    std::uint32_t at = 0;
    std::istringstream lines(nm.output);
    for (std::string line; std::getline(lines, line);) {
        std::uint32_t value = static_cast<std::uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16));
        std::string name = line.substr(11);
        if (value > pc) break;
        if (line[9] == 'T' || line[9] == 't') {
            if (name[0] != '$') {
                expected = name;
                at = value;
            }
        }
    }
    char offset[16];
    std::snprintf(offset, sizeof offset, "+0x%x", pc - at);
    EXPECT_EQ(symbol, expected + offset) << nm.output;
}

}  // namespace
