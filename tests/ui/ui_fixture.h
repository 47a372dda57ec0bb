// The program's user interface on a simulated handheld: the entry function run with
// a script of steps, each taken when the window system has nothing left to do, so a
// step sees the screen as the user would and may tap, type or look.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "boot/boot_menu.h"
#include "platform/coredll.h"
#include "sim/emulator.h"
#include "sim/windows/controls.h"
#include "sim/windows/window_system.h"
#include "support/device.h"
#include "ui/app_window.h"
#include "ui/boot_steps.h"
#include "ui/pages.h"

namespace ui_test {

using Step = std::function<void()>;

inline std::optional<sim::HandOverResult>& handOver() {
    static std::optional<sim::HandOverResult> result;
    return result;
}

// Where the progress bar stood when the kernel was entered.
inline int& barAtHandOver() {
    static int position = -1;
    return position;
}

// The host's way of starting a boot: the emulated hand-over's end ends the program.
inline void runBootEmulated(quorvel::BootMenu& menu) {
    handOver() = sim::runBoot([&menu] { menu.startBoot(); });
    auto* window = dynamic_cast<quorvel::ui::MainWindow*>(menu.mainWindow);
    if (window && window->progressBar())
        barAtHandOver() = static_cast<int>(ce::SendMessageW(window->progressBar()->handle(), ce::PBM_GETPOS, 0, 0));
    if (handOver()) ce::PostQuitMessage(0);
}

class UiTest : public ::testing::Test {
protected:
    explicit UiTest(sim::DeviceSettings settings = {}) : device_(std::move(settings)) {
        handOver().reset();
        barAtHandOver() = -1;
        quorvel::ui::setBootRunner(runBootEmulated);
    }
    ~UiTest() override { quorvel::ui::setBootRunner(nullptr); }

    sim::WindowSystem& windows() { return device_->windows(); }

    // Runs the program; `steps` run one at a time whenever the queue is dry. The
    // program ends when it quits or when the steps are used up.
    int run(std::vector<Step> steps) {
        std::size_t next = 0;
        windows().setIdle([&] {
            if (next >= steps.size()) return false;
            steps[next++]();
            return true;
        });
        int code = quorvel::ui::entry(ce::GetModuleHandleW(nullptr));
        windows().setIdle(nullptr);
        return code;
    }

    quorvel::ui::MainWindow& mainWindow() {
        return dynamic_cast<quorvel::ui::MainWindow&>(*quorvel::theBootMenu().mainWindow);
    }

    // A window's centre tapped.
    void tapOn(ce::HWND window) {
        ce::RECT r = windows().screenRect(window);
        windows().tap((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    // The control with this text under `root`, searched depth first; any top-level
    // window when root is none.
    ce::HWND find(const std::u16string& text, ce::HWND root = nullptr) {
        std::vector<ce::HWND> roots = root ? std::vector<ce::HWND>{root} : windows().topLevelWindows();
        for (ce::HWND r : roots) {
            sim::Window* w = windows().window(r);
            if (!w) continue;
            if (w->text == text && root != r) return r;
            for (ce::HWND child : w->children)
                if (ce::HWND found = find(text, child)) return found;
            if (w->text == text) return r;
        }
        return nullptr;
    }
    ce::HWND item(quorvel::ui::TabPage* page, int id) { return ce::GetDlgItem(page->handle(), id); }
    std::u16string textOf(ce::HWND window) { return windows().window(window)->text; }
    // The tab of page index `index` chosen by a tap on its place.
    void chooseTab(int index) {
        ce::HWND tabs = mainWindow().tabWindow()->handle();
        sim::TabGeometry g = sim::tabGeometry(*windows().window(tabs));
        ce::RECT r = windows().screenRect(tabs);
        windows().tap(r.left + g.tabWidth / 2, r.top + index * g.tabHeight + g.tabHeight / 2);
    }

    testing_support::TestDevice device_;
};

}  // namespace ui_test
