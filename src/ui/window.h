// The window objects of the user interface: the application record, the base of
// every window object, and the procedures that route messages to them.
#pragma once

#include "platform/types.h"

namespace quorvel {
class Console;
}

namespace quorvel::ui {

class MainWindow;

struct Application {
    explicit Application(ce::HINSTANCE module) : instance(module) {}
    ce::HINSTANCE instance;
    ce::HWND commandBar = nullptr;
    MainWindow* mainWindow = nullptr;
    Console* console = nullptr;
};

class Window {
public:
    Window(ce::HWND parent, Application* application) : parent_(parent), application_(application) {}
    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    // Non-zero when the message was handled.
    virtual ce::LRESULT handleMessage(ce::HWND window, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam);

    ce::HWND handle() const { return window_; }
    ce::HWND parent() const { return parent_; }
    Application* application() const { return application_; }

protected:
    ce::HWND window_ = nullptr;
    ce::HWND parent_;
    Application* application_;
};

// The main window class's procedure: the object rides in window word 0.
ce::LRESULT windowProcedure(ce::HWND window, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam);
// The tab pages' dialog procedure: the page rides in DWL_USER.
ce::BOOL dialogProcedure(ce::HWND dialog, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam);

}  // namespace quorvel::ui
