// The README's commands for kernel developers, run as they are written: the shell
// blocks of "Writing a kernel for quorvel", "Booting over HTTP" and "Booting from a
// UFS card", one after the other in an empty folder, with the built quorvel first on
// the PATH.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "support/child_process.h"
#include "support/device.h"
#include "support/test_data.h"

using namespace testing_support;

namespace {

// The ```sh blocks of the section titled `title`.
std::string shellBlocks(const std::string& readme, const std::string& title) {
    std::size_t start = readme.find("\n## " + title + "\n");
    EXPECT_NE(start, std::string::npos) << title;
    if (start == std::string::npos) return "";
    std::size_t end = readme.find("\n## ", start + 1);
    std::string section = readme.substr(start, end == std::string::npos ? std::string::npos : end - start);
    std::string script;
    for (std::size_t at = 0; (at = section.find("\n```sh\n", at)) != std::string::npos;) {
        at += 7;
        std::size_t close = section.find("\n```\n", at);
        if (close == std::string::npos) break;
        script += section.substr(at, close - at + 1);
        at = close;
    }
    EXPECT_FALSE(script.empty()) << title;
    return script;
}

bool portTaken(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    // A connection of an earlier run waiting out TIME_WAIT does not stop the server,
    // which reuses the address too: only a listener counts.
    int reuse = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool taken = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
    close(fd);
    return taken;
}

TEST(Readme, KernelDeveloperCommandsWorkAsWritten) {
    if (portTaken(8000)) GTEST_SKIP() << "port 8000, which the README's server uses, is taken";
    const std::string readme = readHostFile(std::filesystem::path(QUORVEL_FIXTURES) / ".." / ".." / "README.md");
    TempDir work;
    std::filesystem::create_directories(work.path() / "tmp");
    std::string script = "set -e\n";
    for (const char* title : {"Writing a kernel for quorvel", "Booting over HTTP", "Booting from a UFS card"})
        script += shellBlocks(readme, title);
    writeHostFile(work.path() / "readme.sh", script);
    std::string program = std::filesystem::path(QUORVEL_PROGRAM).parent_path().string();
    ToolResult ran = runTool({"env", "PATH=" + program + ":" + getenv("PATH"), "TMPDIR=" + (work.path() / "tmp").string(),
                              "sh", "-c", "cd '" + work.path().string() + "' && sh readme.sh < /dev/null 2>&1"});
    SCOPED_TRACE(script);
    EXPECT_EQ(ran.status, 0) << ran.output;
    // Each boot printed the kernel's "hello": two built here, two over HTTP, one from the card.
    std::size_t hellos = 0;
    for (std::size_t at = 0; (at = ran.output.find("\nhello\n", at)) != std::string::npos; ++at) ++hellos;
    EXPECT_EQ(hellos, 5u) << ran.output;
    nlohmann::json report = nlohmann::json::parse(readHostFile(work.path() / "http.json"));
    EXPECT_EQ(report["run"]["end"], "halted");
    EXPECT_TRUE(std::filesystem::is_empty(work.path() / "tmp"));
}

}  // namespace

namespace {

// The commands of "Booting Linux", run as written from the source folder, the test
// kernel taken from this build: each boot ends in the kernel's OK.
TEST(Readme, BootingLinuxCommandsWorkAsWritten) {
    const std::filesystem::path source = std::filesystem::path(QUORVEL_FIXTURES) / ".." / "..";
    const std::string readme = readHostFile(source / "README.md");
    std::string script = shellBlocks(readme, "Booting Linux");
    const std::string written = "k=build/kernel/linux-protocol";
    const std::size_t at = script.find(written);
    ASSERT_NE(at, std::string::npos) << script;
    script.replace(at, written.size(), "k='" + std::string(QUORVEL_LINUX_PROTOCOL_KERNEL) + "'");
    TempDir work;
    std::filesystem::create_directories(work.path() / "tmp");
    writeHostFile(work.path() / "linux.sh", "set -e\n" + script);
    std::string program = std::filesystem::path(QUORVEL_PROGRAM).parent_path().string();
    ToolResult ran = runTool({"env", "PATH=" + program + ":" + getenv("PATH"), "TMPDIR=" + (work.path() / "tmp").string(),
                              "sh", "-c", "cd '" + source.string() + "' && sh '" + (work.path() / "linux.sh").string() +
                                              "' < /dev/null 2>&1"});
    SCOPED_TRACE(script);
    EXPECT_EQ(ran.status, 0) << ran.output;
    std::size_t oks = 0;
    for (std::size_t from = 0; (from = ran.output.find("\nOK\r\n", from)) != std::string::npos; ++from) ++oks;
    EXPECT_EQ(oks, 4u) << ran.output;
    EXPECT_EQ(ran.output.find("FAIL"), std::string::npos) << ran.output;
    EXPECT_TRUE(std::filesystem::is_empty(work.path() / "tmp"));
}

}  // namespace
