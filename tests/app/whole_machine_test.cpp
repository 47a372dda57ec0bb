// The kernel continued on QEMU's own machines (--emulator qemu), run as a user runs
// quorvel: the whole program, its serial output and exit status, the debugger, and
// what is left on the machine afterwards.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::runTool;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A folder of the test's own, also the temporary directory quorvel runs with, so that
// anything it leaves behind is seen.
class WholeMachine : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("quorvel-qemu-test-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "tmp");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // quorvel with its standard output in `out`; its status.
    int quorvel(const std::string& arguments, const std::string& out, const std::string& input = "/dev/null") {
        std::string command = "TMPDIR='" + (dir_ / "tmp").string() + "' '" QUORVEL_PROGRAM "' " + arguments + " <" + input +
                              " >'" + (dir_ / out).string() + "' 2>>'" + (dir_ / "stderr").string() + "'";
        return runTool({"sh", "-c", command}, {}, std::chrono::seconds(60)).status;
    }
    std::string stderrText() { return readAll(dir_ / "stderr"); }
    bool leftNothing() { return fs::is_empty(dir_ / "tmp"); }

    fs::path dir_;
};

// QEMU's children of a process: the QEMU it started.
std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = readAll(entry.path() / "stat");
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state;
        pid_t ppid;
        rest >> state >> ppid;
        if (ppid == parent && stat.find("(qemu-system-arm)") != std::string::npos) found.push_back(std::stoi(name));
    }
    return found;
}

bool alive(pid_t pid) {
    std::string stat = readAll("/proc/" + std::to_string(pid) + "/stat");
    std::size_t close = stat.rfind(')');
    return close != std::string::npos && stat[close + 2] != 'Z';
}

TEST_F(WholeMachine, SampleKernelSpeaksAsUnderTheExactRun) {
    // An SA-1110 platform on collie, a PXA-250 one on tosa, a PXA-270 one on spitz.
    for (const char* platform : {"'HP Jornada 720 (US/UK)'", "'Compaq iPAQ H3900'", "'Sharp W-ZERO3 (WS003SH)'"}) {
        SCOPED_TRACE(platform);
        std::string flags = std::string("boot -y -q --platform ") + platform;
        ASSERT_EQ(quorvel(flags + " --json '" + (dir_ / "unicorn.json").string() + "'", "unicorn"), 0) << stderrText();
        ASSERT_EQ(quorvel(flags + " --emulator qemu --json '" + (dir_ / "qemu.json").string() + "'", "qemu"), 0)
            << stderrText();
        std::string exact = readAll(dir_ / "unicorn");
        EXPECT_NE(exact.find("check"), std::string::npos);
        EXPECT_EQ(readAll(dir_ / "qemu"), exact);
        // Each report says which emulator ran; QEMU counts no instructions and says none.
        const nlohmann::json counted = nlohmann::json::parse(readAll(dir_ / "unicorn.json"))["run"];
        const nlohmann::json whole = nlohmann::json::parse(readAll(dir_ / "qemu.json"))["run"];
        EXPECT_EQ(counted["emulator"], "unicorn");
        EXPECT_GT(counted["instructions"].get<std::uint64_t>(), 0u);
        EXPECT_EQ(whole["emulator"], "qemu");
        EXPECT_TRUE(whole["instructions"].is_null());
        EXPECT_EQ(whole["description"].get<std::string>().find("instructions"), std::string::npos) << whole.dump(2);
    }
    EXPECT_TRUE(leftNothing());
}

TEST_F(WholeMachine, KernelThatNeedsAMachineRunsToItsLastLine) {
    fs::path input = dir_ / "input";
    std::ofstream(input) << "hello\n";
    for (const auto& [kernel, platform] : {std::pair{QUORVEL_WHOLE_MACHINE_SA1110, "'HP Jornada 720 (US/UK)'"},
                                           std::pair{QUORVEL_WHOLE_MACHINE_PXA270, "'Sharp W-ZERO3 (WS003SH)'"}}) {
        SCOPED_TRACE(kernel);
        std::string flags = std::string("boot -y -q --timeout 20 --platform ") + platform + " '" + kernel + "'";
        ASSERT_EQ(quorvel(flags + " --emulator qemu", "qemu", input.string()), 0) << stderrText();
        std::string serial = readAll(dir_ / "qemu");
        for (const char* line : {"mmu on, vectors at 0xffff0000", "swi 66 taken", "timer: 5 interrupts", "echo: hello",
                                 "whole machine: done"})
            EXPECT_NE(serial.find(line), std::string::npos) << line << "\n" << serial;
        // The exact run stops at the software interrupt and says where to go.
        fs::remove(dir_ / "stderr");
        EXPECT_EQ(quorvel(flags, "unicorn", input.string()), 3);
        EXPECT_NE(stderrText().find("software interrupt"), std::string::npos) << stderrText();
        EXPECT_NE(stderrText().find("--emulator qemu"), std::string::npos) << stderrText();
    }
    EXPECT_TRUE(leftNothing());
}

TEST_F(WholeMachine, EachEndingHasItsStatusAndLeavesNoQemu) {
    // A kernel that never halts: the time limit ends it with 4.
    EXPECT_EQ(quorvel("boot -y -q --emulator qemu --timeout 0.5 '" QUORVEL_LOOP_KERNEL "'", "out"), 4) << stderrText();
    EXPECT_NE(stderrText().find("time limit reached"), std::string::npos);
    // Ctrl-C and SIGTERM end it with 130, and QEMU goes with the run.
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        testing_support::ChildProcess run(
            {"env", "TMPDIR=" + (dir_ / "tmp").string(), QUORVEL_PROGRAM, "boot", "-y", "-q", "--emulator", "qemu", QUORVEL_LOOP_KERNEL},
            dir_ / "log");
        std::vector<pid_t> qemu;
        // env execs quorvel in its place, so the pid is quorvel's.
        for (int i = 0; i < 200 && qemu.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
            qemu = childrenOf(run.pid());
        }
        ASSERT_EQ(qemu.size(), 1u) << readAll(dir_ / "log");
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(run.pid(), signal);
        int status = 0;
        ASSERT_EQ(::waitpid(run.pid(), &status, 0), run.pid());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << readAll(dir_ / "log");
        EXPECT_FALSE(alive(qemu[0]));
        EXPECT_NE(readAll(dir_ / "log").find("interrupted"), std::string::npos);
    }
    EXPECT_TRUE(leftNothing());
}

TEST_F(WholeMachine, QemuThatCannotStartIsNoKernelThatRan) {
    std::string command = "PATH='" + (dir_ / "tmp").string() + "' TMPDIR='" + (dir_ / "tmp").string() + "' '" QUORVEL_PROGRAM
                          "' boot -y -q --emulator qemu </dev/null";
    testing_support::ToolResult result = runTool({"/bin/sh", "-c", command});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find("QEMU failed: can't run qemu-system-arm"), std::string::npos) << result.output;
    EXPECT_EQ(result.output.find("halted"), std::string::npos);
}

TEST_F(WholeMachine, RamQemuCannotHoldIsRefusedBeforeTheBoot) {
    // QEMU's PXA-270 machine has 64 MiB.
    EXPECT_EQ(quorvel("boot -y -q --emulator qemu --platform 0 --ram 128", "out"), 2);
    EXPECT_NE(stderrText().find("does not fit"), std::string::npos) << stderrText();
    EXPECT_EQ(readAll(dir_ / "out"), "");
}

TEST_F(WholeMachine, DebuggerBreaksAtTheEntryWithTheKernelsArguments) {
    // The registers the kernel receives, from the exact run.
    ASSERT_EQ(quorvel("boot -y -q --stop-at entry --save-memory '" + (dir_ / "entry").string() + "'", "out"), 0);
    nlohmann::json entry = nlohmann::json::parse(readAll(dir_ / "entry" / "registers.json"));

    const int port = 20000 + getpid() % 20000;
    testing_support::ChildProcess run({"env", "TMPDIR=" + (dir_ / "tmp").string(), QUORVEL_PROGRAM, "boot", "-y", "-q",
                                       "--emulator", "qemu", "--gdb", std::to_string(port)},
                                      dir_ / "log");
    std::string command;
    for (int i = 0; i < 400 && command.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        std::string log = readAll(dir_ / "log");
        std::size_t at = log.find("gdb-multiarch ");
        if (at != std::string::npos && log.find('\n', at) != std::string::npos) command = log.substr(at, log.find('\n', at) - at);
    }
    ASSERT_FALSE(command.empty()) << readAll(dir_ / "log");
    // The printed command, in batch mode, reading the registers at the breakpoint.
    command.replace(0, 14, "gdb-multiarch -batch ");
    std::size_t cont = command.rfind(" -ex continue");
    ASSERT_NE(cont, std::string::npos);
    command.insert(cont + 13, " -ex 'info registers r0 r1 r2 pc' -ex detach");
    testing_support::ToolResult gdb = runTool({"sh", "-c", command});
    ASSERT_EQ(gdb.status, 0) << gdb.output;
    EXPECT_NE(gdb.output.find("Breakpoint 1"), std::string::npos) << gdb.output;
    for (const char* name : {"r0", "r1", "r2"}) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "0x%x", entry[name].get<unsigned>());
        std::size_t at = gdb.output.find(std::string("\n") + name + " ");
        ASSERT_NE(at, std::string::npos) << gdb.output;
        EXPECT_EQ(gdb.output.substr(at, 40).find(expected) != std::string::npos, true) << name << " " << gdb.output;
    }
    int status = 0;
    ASSERT_EQ(::waitpid(run.pid(), &status, 0), run.pid());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readAll(dir_ / "log");
    EXPECT_NE(readAll(dir_ / "log").find("check bss: ok"), std::string::npos);
    // The inflated copy of the gzip kernel the debugger read is gone with the run.
    EXPECT_TRUE(leftNothing());
}

TEST_F(WholeMachine, MemorySavedAtTheJumpStartsTheSameRunByHand) {
    ASSERT_EQ(quorvel("boot -y -q", "unicorn"), 0);
    fs::path saved = dir_ / "jump";
    ASSERT_EQ(quorvel("boot -y -q --stop-at jump --save-memory '" + saved.string() + "'", "out"), 0) << stderrText();
    ASSERT_TRUE(fs::exists(saved / "qemu.sh"));
    // The script's own console on standard output; QEMU stopped once the line has come,
    // or after 30 s on a machine busy with other work.
    std::string exact = readAll(dir_ / "unicorn");
    const std::string first = exact.substr(0, exact.find_first_of("\r\n"));
    ASSERT_FALSE(first.empty());
    fs::path wire = dir_ / "wire";
    runTool({"sh", "-c",
             "sh \"$1\" -monitor none </dev/null >\"$2\" 2>&1 & q=$!; i=0; "
             "while [ $i -lt 300 ] && ! grep -qF \"$3\" \"$2\"; do sleep 0.1; i=$((i+1)); done; kill $q; wait $q",
             "sh", (saved / "qemu.sh").string(), wire.string(), first});
    std::string serial = readAll(wire);
    // The kernel's own lines end in CR LF on the wire; quorvel shows them as sent.
    EXPECT_NE(serial.find(exact.substr(0, 40)), std::string::npos) << serial;
}

}  // namespace
