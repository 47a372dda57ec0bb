// The live program in a real X server: quorvel gui under Xvfb, its Boot button and
// both questions clicked with xdotool where they stand on the screen, the sample
// kernel's report read from the COM1 file, and the window captured with xwd.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "support/boot_harness.h"
#include "support/child_process.h"
#include "support/device.h"

namespace {

using testing_support::ChildProcess;
using testing_support::runTool;
using namespace std::chrono_literals;

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool onPath(const std::string& program) {
    return runTool({"sh", "-c", "command -v " + program}).status == 0;
}

// Polls `ready` until it holds or `limit` has passed; a busy machine only waits longer.
bool waitFor(const std::function<bool()>& ready, std::chrono::seconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    do {
        if (ready()) return true;
        std::this_thread::sleep_for(200ms);
    } while (std::chrono::steady_clock::now() < end);
    return ready();
}

// The desktop window as xwd saw it, read back through netpbm.
struct Picture {
    int width = 0, height = 0;
    std::string rgb;
    struct Rgb {
        int r, g, b;
    };
    Rgb at(int x, int y) const {
        std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
        return {static_cast<unsigned char>(rgb[i]), static_cast<unsigned char>(rgb[i + 1]),
                static_cast<unsigned char>(rgb[i + 2])};
    }
};

std::optional<Picture> readPpm(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    Picture p;
    if (!(in >> magic >> p.width >> p.height >> maxval) || magic != "P6" || (maxval != 255 && maxval != 65535) ||
        p.width <= 0 || p.height <= 0)
        return std::nullopt;
    in.get();
    // xwdtopnm writes 16-bit samples, most significant byte first: keep that byte.
    std::size_t bytes = maxval == 255 ? 1 : 2;
    std::string raw(static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height) * 3 * bytes, '\0');
    if (!in.read(raw.data(), static_cast<std::streamsize>(raw.size()))) return std::nullopt;
    p.rgb.resize(raw.size() / bytes);
    for (std::size_t i = 0; i < p.rgb.size(); ++i) p.rgb[i] = raw[i * bytes];
    return p;
}

class LiveScreenViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!onPath("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed (Debian package xvfb)";
        // A display of our own: the first number whose server comes up.
        for (int n = 0; n < 20 && !xvfb_; ++n) {
            display_ = ":" + std::to_string(200 + (getpid() + n * 37) % 700);
            auto server = std::make_unique<ChildProcess>(
                std::vector<std::string>{"Xvfb", display_, "-screen", "0", "1400x1000x24", "-nolisten", "tcp"},
                dir_.path() / "xvfb.log");
            ::setenv("DISPLAY", display_.c_str(), 1);
            if (waitFor([&] { return !server->running() || runTool({"xdotool", "getdisplaygeometry"}).status == 0; },
                        30s) &&
                server->running())
                xvfb_ = std::move(server);
        }
        ASSERT_TRUE(xvfb_) << "no Xvfb server came up:\n" << readAll(dir_.path() / "xvfb.log");
    }

    // A failed run leaves its screenshots and logs in the build tree for a look.
    void TearDown() override {
        if (!HasFailure()) return;
        std::filesystem::path kept = std::filesystem::path(QUORVEL_BUILD_DIR) / "live-screen-view";
        std::error_code ec;
        std::filesystem::remove_all(kept, ec);
        std::filesystem::copy(dir_.path(), kept, std::filesystem::copy_options::recursive, ec);
    }

    // The window's pixels now; the screenshot also kept as PNG for a failure report.
    std::optional<Picture> capture(const std::string& name) {
        std::filesystem::path xwd = dir_.path() / (name + ".xwd"), ppm = dir_.path() / (name + ".ppm");
        // The whole screen: a window of its own may carry a visual that netpbm reads
        // with the wrong colours.
        if (runTool({"xwd", "-root", "-silent", "-out", xwd.string()}).status != 0) return std::nullopt;
        runTool({"sh", "-c", "xwdtopnm '" + xwd.string() + "' > '" + ppm.string() + "' 2>/dev/null && pnmtopng '" +
                                 ppm.string() + "' > '" + (dir_.path() / (name + ".png")).string() + "' 2>/dev/null"});
        std::optional<Picture> screen = readPpm(ppm);
        if (!screen) return std::nullopt;
        // Cut out the window, wherever the server put it.
        auto geometry = runTool({"xdotool", "getwindowgeometry", "--shell", window_});
        int x = -1, y = -1, width = 0, height = 0;
        std::istringstream lines(geometry.output);
        for (std::string line; std::getline(lines, line);) {
            auto value = [&](const char* key) { return line.rfind(key, 0) == 0 ? std::atoi(line.c_str() + std::strlen(key)) : -1; };
            if (int v = value("X="); v >= 0) x = v;
            if (int v = value("Y="); v >= 0) y = v;
            if (int v = value("WIDTH="); v >= 0) width = v;
            if (int v = value("HEIGHT="); v >= 0) height = v;
        }
        if (x < 0 || y < 0 || width <= 0 || height <= 0 || x + width > screen->width || y + height > screen->height)
            return std::nullopt;
        Picture window;
        window.width = width;
        window.height = height;
        for (int row = 0; row < height; ++row)
            window.rgb += screen->rgb.substr((static_cast<std::size_t>(y + row) * static_cast<std::size_t>(screen->width) +
                                              static_cast<std::size_t>(x)) * 3,
                                             static_cast<std::size_t>(width) * 3);
        return window;
    }

    // A point of the handheld's screen in the desktop window, which shows it scaled up.
    int scale(const Picture& p) const { return p.width / SCREEN_WIDTH; }
    Picture::Rgb screenPixel(const Picture& p, int x, int y) const {
        int s = scale(p);
        return p.at(x * s + s / 2, y * s + s / 2);
    }
    static bool navy(Picture::Rgb c) { return c.r < 40 && c.g < 40 && c.b > 90; }

    // A message box's title bar crosses the middle of the screen below the button row.
    bool boxShown(const Picture& p) const {
        for (int y = 60; y < 130; ++y)
            if (navy(screenPixel(p, SCREEN_WIDTH / 2, y))) return true;
        return false;
    }
    bool progressFull(const Picture& p) const { return navy(screenPixel(p, SCREEN_WIDTH - 80, 38)); }

    int click(int x, int y, int scaleBy) {
        return runTool({"xdotool", "mousemove", "--window", window_, std::to_string(x * scaleBy + scaleBy / 2),
                        std::to_string(y * scaleBy + scaleBy / 2), "click", "1"})
            .status;
    }

    // quorvel gui with these arguments, its window found and drawn; the scale it shows at.
    int start(std::vector<std::string> arguments, std::unique_ptr<ChildProcess>& gui) {
        arguments.insert(arguments.begin(), {QUORVEL_PROGRAM, "gui", "--com1", (dir_.path() / "com1.txt").string()});
        gui = std::make_unique<ChildProcess>(arguments, dir_.path() / "gui.log");
        auto found = runTool({"xdotool", "search", "--sync", "--name", "^quorvel$"}, {}, 120s);
        std::istringstream ids(found.output);
        if (found.status != 0 || !(ids >> window_)) {
            ADD_FAILURE() << "no quorvel window" << report();
            return 0;
        }
        // The window drawn: the Boot button's face (beside its text) is light grey.
        std::optional<Picture> shot;
        if (!waitFor([&] { return (shot = capture("start")) && screenPixel(*shot, 12, 46).r > 150; }, 60s)) {
            ADD_FAILURE() << "the window never showed the boot loader" << report();
            return 0;
        }
        return scale(*shot);
    }

    // Boot, then Yes to both questions, by clicks where they stand; the kernel's report.
    std::string bootByClicks(int s) {
        std::filesystem::path com1 = dir_.path() / "com1.txt";
        std::optional<Picture> shot;
        EXPECT_EQ(click(37, 38, s), 0);  // Boot
        if (!waitFor([&] { return (shot = capture("safety")) && boxShown(*shot); }, 60s)) {
            ADD_FAILURE() << "no safety question after the click on Boot" << report();
            return {};
        }
        EXPECT_EQ(click(270, 147, s), 0);  // Yes to "Data in memory will be lost."
        if (!waitFor([&] { return (shot = capture("last-chance")) && boxShown(*shot) && progressFull(*shot); }, 120s)) {
            ADD_FAILURE() << "no last-chance question after the boot's eleven steps" << report();
            return {};
        }
        EXPECT_EQ(click(270, 147, s), 0);  // Yes to "Push YES to boot."
        if (!waitFor([&] { return readAll(com1).find("\r\nOK\r\n") != std::string::npos; }, 120s))
            ADD_FAILURE() << "no report from the kernel on COM1" << report();
        return readAll(com1);
    }

    int key(const std::string& name) { return runTool({"xdotool", "key", "--window", window_, name}).status; }

    std::string report() {
        return "\n--- quorvel's output ---\n" + readAll(dir_.path() / "gui.log") + "\n--- COM1 ---\n" +
               readAll(dir_.path() / "com1.txt") + "\n(screenshots kept in " + (std::filesystem::path(QUORVEL_BUILD_DIR) / "live-screen-view").string() + ")";
    }

    static constexpr int SCREEN_WIDTH = 640;  // the demo handheld's 640 x 240 screen
    testing_support::TempDir dir_;
    std::string display_;
    std::unique_ptr<ChildProcess> xvfb_;
    std::string window_;
};

TEST_F(LiveScreenViewTest, BootClickedInARealXServer) {
    std::filesystem::path com1 = dir_.path() / "com1.txt";
    ChildProcess gui({QUORVEL_PROGRAM, "gui", "--com1", com1.string()}, dir_.path() / "gui.log");

    auto found = runTool({"xdotool", "search", "--sync", "--name", "^quorvel$"}, {}, 120s);
    std::istringstream ids(found.output);
    ASSERT_TRUE(found.status == 0 && static_cast<bool>(ids >> window_)) << "no quorvel window" << report();

    // The window drawn: the Boot button's face (beside its text) is light grey.
    std::optional<Picture> shot;
    ASSERT_TRUE(waitFor([&] { return (shot = capture("start")) && screenPixel(*shot, 12, 46).r > 150; }, 60s))
        << "the window never showed the boot loader" << report();
    const int s = scale(*shot);
    ASSERT_GE(s, 1);

    ASSERT_EQ(click(37, 38, s), 0);  // Boot
    ASSERT_TRUE(waitFor([&] { return (shot = capture("safety")) && boxShown(*shot); }, 60s))
        << "no safety question after the click on Boot" << report();
    ASSERT_FALSE(progressFull(*shot));
    ASSERT_EQ(click(270, 147, s), 0);  // Yes to "Data in memory will be lost."

    // Eleven steps later the last-chance question stands at the same place.
    ASSERT_TRUE(waitFor([&] { return (shot = capture("last-chance")) && boxShown(*shot) && progressFull(*shot); },
                        120s))
        << "no last-chance question after the boot's eleven steps" << report();
    ASSERT_EQ(click(270, 147, s), 0);  // Yes to "Push YES to boot."

    ASSERT_TRUE(waitFor([&] { return readAll(com1).find("\r\nOK\r\n") != std::string::npos; }, 120s))
        << "no report from the kernel on COM1" << report();
    std::string serial = readAll(com1);
    EXPECT_NE(serial.find("--------QUORVEL--------"), std::string::npos) << serial;
    EXPECT_NE(serial.find("drew border and colour bars at 0x48200000"), std::string::npos) << serial;

    // The kernel's picture in the desktop window: the yellow border, the bars between.
    ASSERT_TRUE(waitFor([&] { return (shot = capture("kernel")) && screenPixel(*shot, 1, 1).b < 60; }, 30s))
        << report();
    auto border = screenPixel(*shot, 1, 120);
    EXPECT_TRUE(border.r > 200 && border.g > 200 && border.b < 60);
    auto blue = screenPixel(*shot, 4 + 79 + 40, 120);  // the second of eight bars
    EXPECT_TRUE(blue.r < 60 && blue.g < 60 && blue.b > 200);
    EXPECT_TRUE(std::filesystem::exists(dir_.path() / "kernel.png"));

    // Closing the window ends the program.
    runTool({"xdotool", "windowclose", window_});
    EXPECT_TRUE(waitFor([&] { return !gui.running(); }, 60s)) << report();
}

// A person types a kernel's name: a tap on the directory's field, Tab to the name
// (its text selected), Backspace, the new name typed by xdotool; then the boot by
// clicks starts the kernel of that name, each letter having arrived once.
TEST_F(LiveScreenViewTest, TypingAKernelNameBootsThatKernel) {
    std::filesystem::path device = dir_.path() / "device", card = device / "Storage Card";
    std::filesystem::create_directories(card);
    for (const char* name : {"tamsel.gz", "mine.gz"})
        std::filesystem::copy_file(testing_support::sampleKernelGzPath(), card / name);
    auto saved = runTool({QUORVEL_PROGRAM, "boot", "--device", device.string(), "--platform", "HP Jornada 720 (US/UK)",
                          "--dir", "\\Storage Card\\", "--kernel", "tamsel.gz", "--save", "--dry-run", "--yes", "--quiet"});
    ASSERT_EQ(saved.status, 0) << saved.output;

    std::unique_ptr<ChildProcess> gui;
    int s = start({"--device", device.string()}, gui);
    ASSERT_GE(s, 1);
    ASSERT_EQ(click(40, 70, s), 0);  // the directory's field
    ASSERT_EQ(key("Tab"), 0);
    ASSERT_EQ(key("BackSpace"), 0);
    ASSERT_EQ(runTool({"xdotool", "type", "--window", window_, "mine.gz"}).status, 0);
    std::string serial = bootByClicks(s);
    EXPECT_NE(serial.find("argv[0] \"mine.gz\""), std::string::npos) << serial << report();
    runTool({"xdotool", "windowclose", window_});
    EXPECT_TRUE(waitFor([&] { return !gui->running(); }, 60s)) << report();
}

// The platform list opened, scrolled to its top by clicks on its scroll bar, its
// first item chosen by a click: the kernel is told that platform.
TEST_F(LiveScreenViewTest, ThePlatformListScrollsToItsFirstItem) {
    // The first platform by name, and its ids as the kernel prints them.
    auto listed = runTool({QUORVEL_PROGRAM, "platforms"});
    ASSERT_EQ(listed.status, 0);
    std::string firstName, firstIds;
    std::istringstream lines(listed.output);
    for (std::string line; std::getline(lines, line);) {
        std::size_t cpu = line.find("cpu=0x"), machine = line.find("machine=0x");
        if (cpu == std::string::npos || machine == std::string::npos) continue;
        std::string name = line.substr(line.find("  ", machine) + 2);
        if (!firstName.empty() && name >= firstName) continue;
        firstName = name;
        auto upper = [](std::string hex) {
            for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return hex;
        };
        firstIds = "platform 0x" + upper(line.substr(cpu + 6, 8)) + " 0x" + upper(line.substr(machine + 10, 8));
    }
    ASSERT_FALSE(firstName.empty()) << listed.output;

    std::unique_ptr<ChildProcess> gui;
    int s = start({}, gui);
    ASSERT_GE(s, 1);
    ASSERT_EQ(click(188, 95, s), 0);  // the platform list's arrow
    // The list opens at the chosen platform, far from the top: the track below the
    // up arrow pages up, the up arrow goes a line at a time.
    std::optional<Picture> shot;
    ASSERT_TRUE(waitFor([&] { return (shot = capture("list-open")) && screenPixel(*shot, 189, 113).r < 250; }, 30s));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(click(189, 122, s), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(click(189, 112, s), 0);
    capture("list-top");
    ASSERT_EQ(click(80, 112, s), 0);  // the first item
    std::string serial = bootByClicks(s);
    EXPECT_NE(serial.find(firstIds), std::string::npos) << firstName << ": " << firstIds << "\n" << serial << report();
    runTool({"xdotool", "windowclose", window_});
    EXPECT_TRUE(waitFor([&] { return !gui->running(); }, 60s)) << report();
}

}  // namespace
