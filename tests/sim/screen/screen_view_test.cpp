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
        input.key = [this](int key, bool down, int text) { events_.push_back({"key", key, down, text}); };
        input.move = [this](int x, int y) { events_.push_back({"move", x, y}); };
        input.wheel = [this](int x, int y, int delta) { events_.push_back({"wheel", x, y, delta}); };
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
        // A keystroke is its key, carrying the character the desktop made of it, once.
        {"a letter", {"type", "--window", "", "q"}, {{"key", 'Q', 1, 'q'}, {"key", 'Q', 0, -1}}},
        {"a capital", {"type", "--window", "", "Q"},
         {{"key", 0x10, 1, -1}, {"key", 'Q', 1, 'Q'}, {"key", 0x10, 0, -1}, {"key", 'Q', 0, -1}}},  // xdotool's order
        {"punctuation", {"type", "--window", "", "-"}, {{"key", 0xBD, 1, '-'}, {"key", 0xBD, 0, -1}}},
        {"return", {"key", "--window", "", "Return"}, {{"key", 0x0D, 1, -1}, {"key", 0x0D, 0, -1}}},
        {"backspace", {"key", "--window", "", "BackSpace"}, {{"key", 0x08, 1, -1}, {"key", 0x08, 0, -1}}},
        {"an arrow", {"key", "--window", "", "Left"}, {{"key", 0x25, 1, -1}, {"key", 0x25, 0, -1}}},
        {"shift and tab",
         {"keydown", "--window", "", "shift", "key", "--window", "", "Tab", "keyup", "--window", "", "shift"},
         {{"key", 0x10, 1, -1}, {"key", 0x09, 1, -1}, {"key", 0x09, 0, -1}, {"key", 0x10, 0, -1}}},
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

TEST_F(ScreenViewTest, DragsAndTheWheelComeAtTheScreenPoint) {
    // Held at window pixel (31, 16), moved to (61, 46): screen pixels (10, 5) and (20, 15).
    ASSERT_EQ(runTool({"xdotool", "mousemove", "--window", window_, "31", "16", "mousedown", "1", "mousemove", "--window",
                       window_, "61", "46", "mouseup", "1"})
                  .status,
              0);
    await(3);
    ASSERT_GE(events_.size(), 3u);
    EXPECT_EQ(events_.front(), (Event{"tap", 10, 5, 1}));
    EXPECT_EQ(events_[events_.size() - 2], (Event{"move", 20, 15}));
    EXPECT_EQ(events_.back(), (Event{"tap", 20, 15, 0}));
    // The wheel turned towards the user (button 5) scrolls down: a negative notch.
    events_.clear();
    ASSERT_EQ(runTool({"xdotool", "click", "--window", window_, "5"}).status, 0);
    await(1);
    EXPECT_EQ(events_, (std::vector<Event>{{"wheel", 20, 15, -120}}));
}

// The largest whole scale whose window, frame and all, fits the desk's usable area,
// never below 1; placed inside that area.
TEST(ScreenViewScaleTest, TheWindowFitsTheDesk) {
    const sim::WindowFrame titled{24, 2, 2, 2}, bare{};
    const struct {
        const char* name;
        int width, height;
        sim::DesktopArea usable;
        sim::WindowFrame frame;
        int scale;
    } cases[] = {
        {"portrait on a laptop with a panel", 240, 320, {0, 27, 1280, 773}, titled, 2},
        {"portrait on a tall desk", 240, 320, {0, 0, 1920, 1200}, titled, 3},
        {"landscape, bare", 640, 240, {0, 0, 1400, 1000}, bare, 2},
        {"exactly fitting", 320, 240, {0, 0, 644, 506}, titled, 2},
        {"one pixel short", 320, 240, {0, 0, 643, 506}, titled, 1},
        {"larger than the desk", 2000, 100, {0, 0, 1280, 800}, titled, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int scale = sim::ScreenView::fittingScale(c.width, c.height, c.usable, c.frame);
        EXPECT_EQ(scale, c.scale);
        sim::DesktopArea at = sim::ScreenView::placement(c.width, c.height, scale, c.usable, c.frame);
        EXPECT_EQ(at.width, c.width * scale);
        EXPECT_EQ(at.height, c.height * scale);
        EXPECT_GE(at.x - c.frame.left, c.usable.x);
        EXPECT_GE(at.y - c.frame.top, c.usable.y);
        if (c.width * scale + c.frame.left + c.frame.right <= c.usable.width) {
            EXPECT_LE(at.x + at.width + c.frame.right, c.usable.x + c.usable.width);
            EXPECT_LE(at.y + at.height + c.frame.bottom, c.usable.y + c.usable.height);
        }
    }
}

}  // namespace
