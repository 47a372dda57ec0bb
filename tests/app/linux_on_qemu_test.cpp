// Real Linux kernels (built by kernel/linux/build, kept in tests/fixtures/linux/)
// booted through the whole quorvel program onto QEMU's own machines: their console
// from the first line to the initramfs's, with what the boot loader told them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
using testing_support::runTool;

const fs::path kFixtures = fs::path(QUORVEL_FIXTURES) / "linux";
const fs::path kSourceTop = fs::path(QUORVEL_FIXTURES).parent_path().parent_path();

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The kept kernels are the build the script last recorded, from the fragments kept
// beside it: a fixture changed by hand, or a fragment changed without rebuilding,
// shows here.
TEST(LinuxFixtures, AreTheRecordedBuildOfTheFragments) {
    testing_support::ToolResult sums = runTool(
        {"sh", "-c", "cd '" + kSourceTop.string() + "' && sha256sum --check --strict kernel/linux/SHA256SUMS"});
    EXPECT_EQ(sums.status, 0) << sums.output;

    std::string recorded = readAll(kSourceTop / "kernel/linux/SHA256SUMS");
    std::set<std::string> machines;
    for (const auto& entry : fs::recursive_directory_iterator(kFixtures)) {
        if (!entry.is_regular_file()) continue;
        std::string name = fs::relative(entry.path(), kSourceTop).string();
        EXPECT_NE(recorded.find("  " + name + "\n"), std::string::npos) << name << " has no recorded checksum";
        machines.insert(entry.path().parent_path().filename().string());
    }
    EXPECT_EQ(machines, (std::set<std::string>{"collie", "spitz"}));

    for (const std::string& machine : machines) {
        SCOPED_TRACE(machine);
        std::string config = readAll(kFixtures / machine / "config");
        std::istringstream fragment(readAll(kSourceTop / "kernel/linux" / (machine + ".config")));
        for (std::string line; std::getline(fragment, line);) {
            if (line.rfind("CONFIG_", 0) != 0 && line.rfind("# CONFIG_", 0) != 0) continue;
            EXPECT_NE(config.find("\n" + line + "\n"), std::string::npos) << line;
        }
    }
}

class LinuxOnQemu : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() / ("quorvel-linux-test-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "tmp");
    }
    void TearDown() override { fs::remove_all(dir_); }

    // quorvel as a user runs it, its console in `out`; its status.
    int quorvel(const std::string& arguments, const std::string& out) {
        std::string command = "TMPDIR='" + (dir_ / "tmp").string() + "' '" QUORVEL_PROGRAM "' " + arguments +
                              " </dev/null >'" + (dir_ / out).string() + "' 2>'" + (dir_ / (out + ".err")).string() + "'";
        return runTool({"sh", "-c", command}, {}, std::chrono::seconds(120)).status;
    }

    fs::path dir_;
};

struct LinuxCase {
    const char* machine;  // the fixture's folder, QEMU's machine
    const char* kernel;
    const char* platform;  // the quorvel flags that choose the platform and its machine number
    const char* console;   // the kernel's name for the UART quorvel's console is on
    const char* banner;    // what the kernel says its machine is
    const char* memory;    // the RAM it counts
};

TEST_F(LinuxOnQemu, BootsToItsInitramfsWithWhatItWasTold) {
    // A zImage and a vmlinux of each build; one on a platform of the same processor
    // with the kernel's machine number given instead of carried. The boots have 32 MiB,
    // less than either QEMU machine: collie's kernel counts what the memory tag says,
    // spitz's own start-up declares the SL-C3000's 64 MiB whatever the tags say.
    const LinuxCase cases[] = {
        {"collie", "zImage", "--platform collie", "ttySA0", "Machine: Sharp-Collie", "/32768K available"},
        {"collie", "vmlinux.gz", "--platform 'HP Jornada 720 (US/UK)' --machine-number 146", "ttySA0",
         "Machine: Sharp-Collie", "/32768K available"},
        {"spitz", "zImage", "--platform spitz", "ttyS0", "Machine: SHARP Spitz", "/65536K available"},
        {"spitz", "vmlinux.gz", "--platform spitz", "ttyS0", "Machine: SHARP Spitz", "/65536K available"},
    };
    for (const LinuxCase& c : cases) {
        std::string name = std::string(c.machine) + "-" + c.kernel;
        SCOPED_TRACE(name);
        fs::path fixture = kFixtures / c.machine;
        // Words of the test's own on the command line, to see them come back.
        std::string extra = std::string("console=") + c.console + " quorvel.case=" + name;
        int status = quorvel("boot -y -q --emulator qemu --timeout 60 --ram 32 " + std::string(c.platform) + " --json '" +
                                 (dir_ / (name + ".json")).string() + "' --image '" +
                                 (fixture / "initramfs.cpio.gz").string() + "' --extra '" + extra + "' '" +
                                 (fixture / c.kernel).string() + "'",
                             name);
        std::string console = readAll(dir_ / name);
        // Linux's halt is a branch to itself, which ends the run with status 0.
        EXPECT_EQ(status, 0) << readAll(dir_ / (name + ".err")) << console;
        // In this order, each after the one before it.
        const std::string lines[] = {"Booting Linux on physical CPU", c.banner,
                                     // md's root, then the extra options as given.
                                     "Kernel command line: root=/dev/ram0 " + extra + "\r\n",
                                     c.memory,
                                     // Only the initrd holds an /init.
                                     "Run /init as init process", "quorvel-linux-init: OK", "reboot: System halted"};
        std::size_t at = 0;
        for (const std::string& line : lines) {
            std::size_t found = console.find(line, at);
            EXPECT_NE(found, std::string::npos) << "\"" << line << "\" after offset " << at << "\n" << console;
            if (found != std::string::npos) at = found + line.size();
        }
        // The report shows the tags as the kernel was given them, not as Linux left
        // the page (spitz clears its memory tags once its board code has read them).
        const nlohmann::json report = nlohmann::json::parse(readAll(dir_ / (name + ".json")));
        std::vector<std::string> tags;
        for (const nlohmann::json& tag : report["linux"]["tags"])
            if (tag["tag"] != "ATAG_VIDEOLFB") tags.push_back(tag["tag"].get<std::string>());  // where a screen is known
        EXPECT_EQ(tags, (std::vector<std::string>{"ATAG_CORE", "ATAG_MEM", "ATAG_INITRD2", "ATAG_CMDLINE", "ATAG_NONE"}))
            << report["linux"].dump(2);
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
}

// A line typed on quorvel's standard input once /init asks for it comes back from
// Linux's own console driver: what a shell on the console needs.
TEST_F(LinuxOnQemu, TypingReachesLinuxOnItsConsole) {
    for (const auto& [machine, console] : {std::pair{"collie", "ttySA0"}, std::pair{"spitz", "ttyS0"}}) {
        SCOPED_TRACE(machine);
        fs::path fixture = kFixtures / machine;
        fs::path input = dir_ / (std::string(machine) + ".in"), output = dir_ / (std::string(machine) + ".out");
        ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
        std::string command = "exec '" QUORVEL_PROGRAM "' boot -y -q --emulator qemu --timeout 60 --platform " +
                              std::string(machine) + " --image '" + (fixture / "initramfs.cpio.gz").string() +
                              "' --extra 'console=" + console + " quorvel_echo=1' '" + (fixture / "zImage").string() +
                              "' <'" + input.string() + "' >'" + output.string() + "'";
        testing_support::ChildProcess run({"env", "TMPDIR=" + (dir_ / "tmp").string(), "sh", "-c", command},
                                          dir_ / (std::string(machine) + ".err"));
        // Held open for reading too, so that opening it never waits for quorvel's end.
        int typing = ::open(input.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(typing, 0);
        bool asked = false;
        for (int i = 0; i < 1200 && !asked && run.running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            asked = readAll(output).find("quorvel-linux-init: type a line") != std::string::npos;
        }
        ASSERT_TRUE(asked) << readAll(dir_ / (std::string(machine) + ".err")) << readAll(output);
        const std::string line = "typed on the host\n";
        ASSERT_EQ(::write(typing, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        ::close(typing);
        int status = 0;
        ASSERT_EQ(::waitpid(run.pid(), &status, 0), run.pid());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << readAll(dir_ / (std::string(machine) + ".err"));
        std::string console_text = readAll(output);
        EXPECT_NE(console_text.find("quorvel-linux-init: read: typed on the host\r\nreboot: System halted"),
                  std::string::npos)
            << console_text;
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "tmp"));
}

}  // namespace
