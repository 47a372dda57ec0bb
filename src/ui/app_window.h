// The single root window: Boot, a progress bar and Cancel in a row under the command
// bar, and below them the vertical tab control holding the three option pages.
#pragma once

#include <memory>

#include "boot/boot_window.h"
#include "platform/types.h"
#include "ui/resources/resource_ids.h"
#include "ui/window.h"

namespace quorvel::ui {

class MainWindow;
class TabPage;
class MainPage;
class OptionPage;
class ConsolePage;

constexpr int COMMAND_BAR_ID = 3;
constexpr int PROGRESS_ID = 4;
constexpr int BOOT_BUTTON_ID = 5;
constexpr int CANCEL_BUTTON_ID = 6;
constexpr int TAB_CONTROL_ID = 7;
constexpr ce::UINT AUTO_BOOT_TIMER = 2;
constexpr int PROGRESS_STEPS = 11;
constexpr int BUILD_NUMBER = 16;
constexpr ce::UINT CLASS_NAME_STRING = IDS_CLASS_NAME;

// A child of the main window laid out from a copy of its layout rectangle.
class ChildWindow : public Window {
public:
    ChildWindow(const ce::RECT& rect, MainWindow& owner);
    virtual bool createWindow(const ce::CREATESTRUCTW& create) = 0;

protected:
    ce::RECT rect_;
    MainWindow& owner_;
};

class BootButton : public ChildWindow {
public:
    using ChildWindow::ChildWindow;
    bool createWindow(const ce::CREATESTRUCTW& create) override;
};

class CancelButton : public ChildWindow {
public:
    using ChildWindow::ChildWindow;
    bool createWindow(const ce::CREATESTRUCTW& create) override;
};

class ProgressBar : public ChildWindow {
public:
    using ChildWindow::ChildWindow;
    bool createWindow(const ce::CREATESTRUCTW& create) override;
};

class TabStrip : public Window {
public:
    TabStrip(const ce::RECT& rect, ce::HWND parent, Application* application)
        : Window(parent, application), rect_(rect) {}
    ~TabStrip() override;
    bool createWindow();
    bool tabKeyDown(int key, ce::HWND cancel);
    const ce::RECT& rect() const { return rect_; }
    // The page whose tab is selected, read from the tab item's parameter.
    TabPage* currentPage() const;

private:
    ce::RECT rect_;
    int id_ = TAB_CONTROL_ID;
    ce::HIMAGELIST images_ = nullptr;
};

class MainWindow : public Window, public BootWindow {
public:
    explicit MainWindow(Application* application);
    ~MainWindow() override;
    virtual bool createWindow();
    ce::LRESULT handleMessage(ce::HWND window, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam) override;

    // Behind the BootMenu's `progress` and `progressDone`: "[progress] label" in the
    // log and one step of the bar; the bar back to 0.
    void progressStep(const char* label) override;
    void progressReset() override;
    ce::HWND messageOwner() const override { return handle(); }
    bool preTranslate(ce::MSG* message);

    int buttonWidth() const { return buttonWidth_; }
    int commandBarHeight() const { return commandBarHeight_; }
    BootButton* bootButton() const { return bootButton_.get(); }
    CancelButton* cancelButton() const { return cancelButton_.get(); }
    ProgressBar* progressBar() const { return progressBar_.get(); }
    TabStrip* tabWindow() const { return tabWindow_.get(); }
    MainPage* mainPage() const;
    OptionPage* optionPage() const;
    ConsolePage* consolePage() const;

private:
    void create(const ce::CREATESTRUCTW& create);
    void notify(const ce::NMHDR& header, ce::LRESULT& result);
    void bootCommand();
    void restoreFocus();
    bool navigate(const ce::MSG& message, TabPage* shown);

    std::unique_ptr<BootButton> bootButton_;
    std::unique_ptr<CancelButton> cancelButton_;
    std::unique_ptr<ProgressBar> progressBar_;
    std::unique_ptr<TabStrip> tabWindow_;
    std::unique_ptr<TabPage> mainPage_, optionPage_, consolePage_;
    std::int32_t buttonWidth_ = 50;
    std::int32_t commandBarHeight_ = 0;
    ce::HWND savedFocus_ = nullptr;
    bool created_ = false;  // WM_CREATE ran: the children exist and the BootMenu knows them
};

// The system's whole life on the device: start-up, the message loop, shut-down.
// Returns the WM_QUIT code.
int entry(ce::HINSTANCE instance);

// Window title for the class name: "%s Build %d".
void formatTitle(const ce::WCHAR* className, ce::WCHAR (&title)[64]);

}  // namespace quorvel::ui
