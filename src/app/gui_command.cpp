// quorvel gui: the boot loader's own window on the simulated handheld, live in a
// desktop window or headless with scripted taps and keys ending in a screenshot.
#include <chrono>
#include <functional>
#include <ostream>
#include <thread>
#include <vector>

#include "app/boot_run.h"
#include "app/commands.h"
#include "app/handheld_setup.h"
#include "app/platform_search.h"
#include "app/run_files.h"
#include "console/console.h"
#include "platform/coredll.h"
#include "sim/handheld.h"
#include "sim/screen/png_writer.h"
#include "sim/screen/screen_view.h"
#include "sim/utf.h"
#include "sim/windows/controls.h"
#include "sim/windows/key_names.h"
#include "sim/windows/window_system.h"
#include "ui/app_window.h"

namespace quorvel::app {

int guiCommand(const Arguments& a, std::ostream& out, std::ostream& err) {
    if (!usableDeviceFiles(a, err)) return 1;
    std::optional<RunFolder> demo;
    std::filesystem::path root;
    if (int status = deviceRoot(a, demo, root, err, false)) return status;

    sim::DeviceSettings settings = baseSettings(a, root);
    PlatformId platform{};
    {
        sim::Handheld reader(settings);
        BootMenu& saved = theBootMenu();
        if (saved.platform.cpu == 0 && saved.platform.machine == 0) saved.platformEntry(DEMO_PLATFORM, 1);
        platform = saved.platform;
        releaseConsole();
        releaseBootMenu();
    }
    fitHandheld(a, platform, settings);

    sim::Handheld device(settings);
    sim::WindowSystem& windows = device.windows();
    std::ofstream com1File;
    std::ostream& serial = kernelSerial(a, com1File, out);
    device.cpu().emulation.uartOutput = [&serial](std::string_view bytes) { serial << bytes << std::flush; };
    BootMenu& menu = theBootMenu();
    // A device that never chose a platform starts on the demo device's.
    if (menu.platform.cpu == 0 && menu.platform.machine == 0) menu.platform = platform;

    // A boot that reaches the kernel ends the window's loop with the kernel's status.
    HandOverRun handOver([](const BootOutcome& outcome) {
        if (outcome.result) ce::PostQuitMessage(exitStatusOf(outcome.result->reason));
    });
    const std::optional<sim::HandOverResult>& result = handOver.outcome().result;

    int status = 0;
    if (a.screenshot) {
        std::vector<std::function<void()>> steps;
        if (a.tab && *a.tab != "main") {
            int index = *a.tab == "option" ? 1 : 2;
            steps.push_back([&windows, index] {
                auto* window = dynamic_cast<ui::MainWindow*>(theBootMenu().mainWindow);
                if (!window || !window->tabWindow()) return;
                ce::HWND tabs = window->tabWindow()->handle();
                sim::TabGeometry g = sim::tabGeometry(*windows.window(tabs));
                ce::RECT r = windows.screenRect(tabs);
                windows.tap(r.left + g.tabWidth / 2, r.top + index * g.tabHeight + g.tabHeight / 2);
            });
        }
        for (auto [x, y] : a.taps) steps.push_back([&windows, x = x, y = y] { windows.tap(x, y); });
        if (a.keys)
            steps.push_back([&windows, keys = *a.keys] {
                std::string unused;  // the command line has checked the names
                windows.script(sim::keyScript(sim::fromUtf8(keys), unused).value_or(std::vector<sim::InputEvent>{}));
            });
        bool written = false;
        std::size_t next = 0;
        auto shoot = [&] {
            if (written) return;
            written = true;
            // After the hand-over the screen is the kernel's.
            if (!result) windows.paint(true);
            if (!sim::writePng(windows.frame(), a.screenshot->string())) {
                err << "quorvel: can't write the screenshot " << a.screenshot->string() << "\n";
                status = 1;
            }
        };
        windows.setIdle([&] {
            if (next < steps.size()) {
                steps[next++]();
                return true;
            }
            shoot();
            return false;
        });
        int code = ui::entry(ce::GetModuleHandleW(nullptr));
        shoot();  // a boot ended the loop: the screen as the kernel left it
        if (result) status = code;
    } else {
        sim::ScreenView view;
        bool closed = false;
        sim::ScreenInput input;
        // The view's events wait in the same queue as scripted ones, for their turn.
        using Event = sim::InputEvent;
        input.tap = [&](int x, int y, bool down) { windows.input({down ? Event::TapDown : Event::TapUp, x, y}); };
        input.move = [&](int x, int y) { windows.input({Event::TapMove, x, y}); };
        input.wheel = [&](int x, int y, int delta) { windows.input({Event::Wheel, x, y, delta}); };
        input.key = [&](int key, bool down, int text) {
            windows.input({down ? Event::KeyDown : Event::KeyUp, 0, 0, key, text >= 0 ? text : Event::KEY_TEXT_US});
        };
        input.character = [&](char16_t c) { windows.input({Event::Text, 0, 0, c}); };
        input.close = [&] { closed = true; };
        windows.paint(true);
        if (!view.open(windows.frame(), input, a.scale.value_or(0), "quorvel")) {
            err << "quorvel: no screen to show the window on (" << view.error()
                << "); use --screenshot FILE.png to run without one\n";
            releaseConsole();
            releaseBootMenu();
            return 1;
        }
        // While the kernel runs, its picture is shown whenever it speaks, at most
        // every 30 ms so the emulation is not held up.
        auto shownAt = std::chrono::steady_clock::now();
        device.cpu().emulation.uartOutput = [&](std::string_view bytes) {
            serial << bytes << std::flush;
            auto now = std::chrono::steady_clock::now();
            if (now - shownAt < std::chrono::milliseconds(30)) return;
            shownAt = now;
            view.refresh();
            if (!view.pump()) closed = true;
        };
        auto last = std::chrono::steady_clock::now();
        // The simulated clock follows the wall clock while the window waits.
        windows.setIdle([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(15));
            auto now = std::chrono::steady_clock::now();
            windows.advanceClock(static_cast<std::uint64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count()));
            last = now;
            if (!view.pump()) closed = true;
            windows.paint();
            view.refresh();
            return !closed;
        });
        int code = ui::entry(ce::GetModuleHandleW(nullptr));
        if (result) {
            status = code;
            err << "quorvel: kernel " << result->describe() << "\n";
            // The kernel's own picture stays on the screen until the window is closed;
            // the window system paints no more.
            windows.setIdle(nullptr);
            view.setFrame(windows.frame());
            view.run([&] { return !closed; });
        }
    }
    if (!handOver.outcome().error.empty()) {
        err << "quorvel: the hand-over could not run: " << handOver.outcome().error << "\n";
        status = 1;
    }
    windows.setIdle(nullptr);
    return status;
}

}  // namespace quorvel::app
