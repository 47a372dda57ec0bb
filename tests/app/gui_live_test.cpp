// The live program in a real X server: quorvel gui under Xvfb, its Boot button and
// the two questions clicked with xdotool where they are on the screen, the sample
// kernel's report read from COM1, and the window captured with xwd.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/child_process.h"
#include "support/device.h"

namespace {

using testing_support::ChildProcess;
using testing_support::runTool;

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Polls `ready` until it holds; generous, so a loaded machine only waits longer.
template <typename F>
bool waitFor(F ready, int seconds = 120) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

TEST(GuiLive, BootClickedInARealXServer) {
    testing_support::TempDir dir;
    std::string display = ":" + std::to_string(90 + getpid() % 100);
    ChildProcess xvfb({"Xvfb", display, "-screen", "0", "1400x1000x24", "-nolisten", "tcp"}, dir.path() / "xvfb.log");
    ::setenv("DISPLAY", display.c_str(), 1);
    ASSERT_TRUE(waitFor([] { return runTool({"xdotool", "getdisplaygeometry"}).status == 0; }))
        << readAll(dir.path() / "xvfb.log");

    std::filesystem::path com1 = dir.path() / "com1.txt";
    ChildProcess gui({QUORVEL_PROGRAM, "gui", "--com1", com1.string()}, dir.path() / "gui.log");
    std::string id;
    ASSERT_TRUE(waitFor([&] {
        auto found = runTool({"xdotool", "search", "--name", "^quorvel$"});
        std::istringstream lines(found.output);
        return found.status == 0 && static_cast<bool>(lines >> id);
    })) << readAll(dir.path() / "gui.log");
    // The demo screen is 640 x 240, shown twice its size.
    auto click = [&](int x, int y) {
        return runTool({"xdotool", "mousemove", "--window", id, std::to_string(2 * x), std::to_string(2 * y), "click",
                        "1"})
            .status;
    };
    auto shown = [&] { return readAll(dir.path() / "gui.log"); };
    ASSERT_EQ(click(37, 38), 0);  // Boot
    // The safety question, then the last-chance question, each answered Yes at its place.
    for (int answer = 0; answer < 2; ++answer) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_EQ(click(270, 147), 0);
    }
    ASSERT_TRUE(waitFor([&] { return readAll(com1).find("\nOK") != std::string::npos; }))
        << readAll(com1) << shown();
    EXPECT_NE(readAll(com1).find("drew border and colour bars"), std::string::npos);
    std::filesystem::path picture = dir.path() / "window.xwd";
    EXPECT_EQ(runTool({"xwd", "-id", id, "-silent", "-out", picture.string()}).status, 0);
    EXPECT_GT(std::filesystem::file_size(picture), 640u * 240u);
    // Closing the window ends the program.
    runTool({"xdotool", "windowclose", id});
    EXPECT_TRUE(waitFor([&] { return !gui.running(); })) << shown();
}

}  // namespace
