// The live view in a real X server (Xvfb): clicks and keys sent by xdotool come out
// of the view's callbacks as taps at screen points, virtual keys and characters.
#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/screen/screen_view.h"
#include "support/child_process.h"
#include "support/device.h"

namespace {

using testing_support::runTool;

struct Event {
    std::string kind;
    int a = 0, b = 0, c = 0;
    bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
    return out << e.kind << "(" << e.a << "," << e.b << "," << e.c << ")";
}

class ScreenViewTest : public ::testing::Test {
protected:
    static constexpr int scale = 3;

    void SetUp() override {
        if (runTool({"sh", "-c", "command -v Xvfb && command -v xdotool"}).status != 0) {
            GTEST_SKIP() << "Xvfb or xdotool is not installed";
        }
        // A display number no other server holds; tests run side by side start apart.
        for (int i = 0; i < 100 && display_.empty(); ++i) {
            int n = 140 + (static_cast<int>(getpid()) + i) % 100;
            if (!std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) display_ = ":" + std::to_string(n);
        }
        ASSERT_FALSE(display_.empty());
        server_ = std::make_unique<testing_support::ChildProcess>(
            std::vector<std::string>{"Xvfb", display_, "-screen", "0", "800x600x24", "-nolisten", "tcp"},
            folder_.path() / "xvfb.log");
        std::string socket = "/tmp/.X11-unix/X" + display_.substr(1);
        for (int i = 0; i < 1000 && !std::filesystem::exists(socket); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(std::filesystem::exists(socket)) << "Xvfb did not start";
        setenv("DISPLAY", display_.c_str(), 1);

        frame_.assign(64 * 48 * 2, 0);
        sim::FrameBuffer frame{frame_.data(), 64, 48, 128, 16};
        sim::ScreenInput input;
        input.tap = [this](int x, int y, bool down) { events_.push_back({"tap", x, y, down}); };
        input.key = [this](int key, bool down) { events_.push_back({"key", key, down}); };
        input.character = [this](char16_t c) { events_.push_back({"char", c}); };
        input.close = [this] { events_.push_back({"close"}); };
        std::string title = "quorvel-view-test-" + std::to_string(getpid());
        ASSERT_TRUE(view_.open(frame, input, scale, title)) << view_.error();
        view_.pump();
        auto found = runTool({"xdotool", "search", "--sync", "--name", title}, {}, std::chrono::seconds(20));
        ASSERT_EQ(found.status, 0) << found.output;
        window_ = found.output.substr(0, found.output.find('\n'));
        ASSERT_EQ(runTool({"xdotool", "windowfocus", "--sync", window_}).status, 0);
        view_.pump();
        events_.clear();
    }

    void TearDown() override {
        view_.close();
        server_.reset();
    }

    // Pumps the view until `count` events came or a generous bound of rounds passed.
    void await(std::size_t count) {
        for (int i = 0; i < 2000 && events_.size() < count; ++i) {
            view_.pump();
            if (events_.size() < count) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    testing_support::TempDir folder_;
    std::string display_;
    std::unique_ptr<testing_support::ChildProcess> server_;
    std::vector<std::uint8_t> frame_;
    sim::ScreenView view_;
    std::string window_;
    std::vector<Event> events_;
};

TEST_F(ScreenViewTest, ClicksBecomeTapsAtTheScreenPoint) {
    EXPECT_EQ(view_.scale(), scale);
    // Window pixel (31, 16) lies on screen pixel (10, 5) at three window pixels a pixel.
    ASSERT_EQ(runTool({"xdotool", "mousemove", "--window", window_, "31", "16", "click", "1"}).status, 0);
    await(2);
    EXPECT_EQ(events_, (std::vector<Event>{{"tap", 10, 5, 1}, {"tap", 10, 5, 0}}));
}

TEST_F(ScreenViewTest, KeysBecomeVirtualKeysAndCharacters) {
    const struct {
        const char* name;
        std::vector<std::string> xdotool;
        std::vector<Event> events;
    } cases[] = {
        {"a letter", {"type", "--window", "", "q"}, {{"key", 'Q', 1}, {"char", 'q'}, {"key", 'Q', 0}}},
        {"return", {"key", "--window", "", "Return"}, {{"key", 0x0D, 1}, {"char", '\r'}, {"key", 0x0D, 0}}},
        {"backspace", {"key", "--window", "", "BackSpace"}, {{"key", 0x08, 1}, {"char", 0x08}, {"key", 0x08, 0}}},
        {"an arrow", {"key", "--window", "", "Left"}, {{"key", 0x25, 1}, {"key", 0x25, 0}}},
        {"shift and tab",
         {"keydown", "--window", "", "shift", "key", "--window", "", "Tab", "keyup", "--window", "", "shift"},
         {{"key", 0x10, 1}, {"key", 0x09, 1}, {"char", 0x09}, {"key", 0x09, 0}, {"key", 0x10, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events_.clear();
        std::vector<std::string> argv{"xdotool"};
        for (const std::string& word : c.xdotool) argv.push_back(word.empty() ? window_ : word);
        ASSERT_EQ(runTool(argv).status, 0);
        await(c.events.size());
        EXPECT_EQ(events_, c.events);
    }
}

// Without a window manager nothing can ask the window to close the polite way, so
// the request is queued as the desktop would send it.
TEST_F(ScreenViewTest, ClosingTheWindowIsReported) {
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    await(1);
    EXPECT_FALSE(view_.isOpen());
    EXPECT_FALSE(view_.pump());
    EXPECT_EQ(events_, (std::vector<Event>{{"close"}}));
}

// The whole scale that keeps the window within 1280 x 960 pixels, never below 1.
TEST(ScreenViewScaleTest, ComfortableScaleFitsTheDesktop) {
    const struct {
        int width, height, scale;
    } cases[] = {{640, 240, 2}, {240, 320, 3}, {320, 240, 4}, {640, 480, 2}, {800, 600, 1}, {2000, 100, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        EXPECT_EQ(sim::ScreenView::comfortableScale(c.width, c.height), c.scale);
    }
}

}  // namespace
