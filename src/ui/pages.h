// The three option pages inside the main window's tab control: modeless dialogs from
// the "WMain", "WOption" and "WConsole" templates, filled from the BootMenu when built
// and read back into it by `collect`.
#pragma once

#include <memory>

#include "boot/boot_menu.h"
#include "platform/types.h"
#include "ui/app_window.h"
#include "ui/window.h"

namespace quorvel::ui {

class TabStrip;

class TabPage : public Window, public OptionSource {
public:
    TabPage(TabStrip& tabs, int pageIndex, const ce::WCHAR* templateName);
    ~TabPage() override;
    ce::LRESULT handleMessage(ce::HWND dialog, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam) override;
    virtual bool createWindow();
    virtual void initPage(ce::HWND dialog);
    virtual void command(int id, int code);
    virtual void hidePage();
    virtual void showPage();
    // Writes the page's controls into the BootMenu (`collectOptions`); the Console
    // page has nothing to write.
    void collect() override {}

    bool isChecked(int id) const;
    void setChecked(int id, bool flag) const;
    const ce::RECT& pageRect() const { return pageRect_; }
    int pageIndex() const { return pageIndex_; }

protected:
    // A 96-dpi position on this screen.
    static int scaleX(int v);
    static int scaleY(int v);
    TabStrip& tabs_;
    ce::RECT pageRect_;
    int pageIndex_;
    const ce::WCHAR* templateName_;
};

struct PlatformOrder {
    int index;
    const ce::WCHAR* name;
};

class MainPage : public TabPage {
public:
    explicit MainPage(TabStrip& tabs) : TabPage(tabs, 0, u"WMain") {}
    void initPage(ce::HWND dialog) override;
    void command(int id, int code) override;
    void collect() override;

private:
    void fillPlatforms();
    void layoutFlags();
    ce::HWND imageEdit_ = nullptr;
    ce::HWND speedList_ = nullptr;
    std::unique_ptr<PlatformOrder[]> platformOrder_;
};

class OptionPage : public TabPage {
public:
    explicit OptionPage(TabStrip& tabs) : TabPage(tabs, 1, u"WOption") {}
    void initPage(ce::HWND dialog) override;
    void command(int id, int code) override;
    void collect() override;

private:
    ce::HWND autoBootEdit_ = nullptr;
    ce::HWND autoBootSpin_ = nullptr;
};

class ConsolePage : public TabPage, public BootLog {
public:
    explicit ConsolePage(TabStrip& tabs) : TabPage(tabs, 2, u"WConsole") {}
    ~ConsolePage() override;
    void initPage(ce::HWND dialog) override;
    void command(int id, int code) override;
    // toWindow false: what the LCD console prints (`logText`), to the file while
    // "save to file" is on; true: the page's own messages, always to the view.
    void appendLog(const ce::WCHAR* text, bool toWindow) override;
    bool savingToFile() const { return saveToFile_ != 0; }

private:
    bool openLogFile();
    ce::HWND logNameEdit_ = nullptr;
    ce::BOOL saveToFile_ = 0;
    ce::HANDLE logFile_ = ce::INVALID_HANDLE_VALUE;
    ce::HWND logView_ = nullptr;
};

// The page for index 0, 1 or 2 with its tab inserted and recorded in the BootMenu;
// none for any other index.
TabPage* createTabPage(TabStrip& tabs, int index);

}  // namespace quorvel::ui
