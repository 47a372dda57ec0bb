// The user interface's objects without their windows, for tests of the boot path.
// A window on the simulated screen would turn every message box into a modal one
// that only a tap answers, where these tests script the answers.
#pragma once

#include <cstdint>

#include "ui/app_window.h"
#include "ui/pages.h"

namespace testing_support {

struct WindowlessApplication {
    quorvel::ui::Application noScreen{nullptr};
};

// The main window object with a stand-in handle (the owner its boxes record) and no
// window: its progress operations run, with no bar to move.
class WindowlessMainWindow : private WindowlessApplication, public quorvel::ui::MainWindow {
public:
    explicit WindowlessMainWindow(std::uintptr_t token) : MainWindow(&noScreen) {
        window_ = reinterpret_cast<ce::HWND>(token);
    }
    ~WindowlessMainWindow() override { window_ = nullptr; }  // no window to let go of
};

}  // namespace testing_support
