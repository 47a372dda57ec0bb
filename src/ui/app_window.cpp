#include "ui/app_window.h"

#include "boot/boot_context.h"
#include "boot/boot_menu.h"
#include "console/console.h"
#include "platform/coredll.h"
#include "platform/windows.h"
#include "ui/boot_steps.h"
#include "ui/pages.h"

namespace quorvel::ui {

namespace {
constexpr ce::DWORD BUTTON_STYLE = 0x50014000;  // child, visible, tab stop, notify
constexpr ce::DWORD PROGRESS_STYLE = 0x50000001;
constexpr ce::DWORD TAB_STYLE = 0x54010280;

ce::HWND childOf(const ce::RECT&, const ce::WCHAR* className, const ce::WCHAR* text, ce::DWORD style,
                 ce::DWORD exStyle, int x, int y, int width, int height, ce::HWND parent, int id,
                 ce::HINSTANCE instance) {
    return ce::CreateWindowExW(exStyle, className, text, style, x, y, width, height, parent,
                               reinterpret_cast<ce::HMENU>(static_cast<std::uintptr_t>(id)), instance, nullptr);
}
}  // namespace

void formatTitle(const ce::WCHAR* className, ce::WCHAR (&title)[64]) {
    ce::WCHAR name[32] = {};
    ce::wcsncpy(name, className, 31);  // the class name is a short resource string
    ce::wsprintfW(title, u"%s Build %d", name, BUILD_NUMBER);
}

ChildWindow::ChildWindow(const ce::RECT& rect, MainWindow& owner)
    : Window(owner.handle(), owner.application()), rect_(rect), owner_(owner) {}

bool BootButton::createWindow(const ce::CREATESTRUCTW& create) {
    window_ = childOf(rect_, u"BUTTON", u"Boot", BUTTON_STYLE, 0, rect_.left, rect_.top, owner_.buttonWidth(),
                      owner_.commandBarHeight(), parent_, BOOT_BUTTON_ID, create.hInstance);
    return ce::IsWindow(window_);
}

bool CancelButton::createWindow(const ce::CREATESTRUCTW& create) {
    window_ = childOf(rect_, u"BUTTON", u"Cancel", BUTTON_STYLE, 0, rect_.right - owner_.buttonWidth(), rect_.top,
                      owner_.buttonWidth(), owner_.commandBarHeight(), parent_, CANCEL_BUTTON_ID, create.hInstance);
    return ce::IsWindow(window_);
}

bool ProgressBar::createWindow(const ce::CREATESTRUCTW& create) {
    int width = owner_.buttonWidth();
    window_ = childOf(rect_, u"msctls_progress32", u"", PROGRESS_STYLE, ce::WS_EX_CLIENTEDGE, rect_.left + width,
                      rect_.top, rect_.right - 2 * width - rect_.left, owner_.commandBarHeight(), parent_,
                      PROGRESS_ID, create.hInstance);
    return ce::IsWindow(window_);
}

// ---- TabStrip ----

TabStrip::~TabStrip() {
    if (images_) ce::ImageList_Destroy(images_);
}

bool TabStrip::createWindow() {
    window_ = childOf(rect_, u"SysTabControl32", u"", TAB_STYLE, 0, rect_.left, rect_.top, rect_.right - rect_.left,
                      rect_.bottom - rect_.top, parent_, id_, application_->instance);
    if (!ce::IsWindow(window_)) return false;
    images_ = ce::ImageList_Create(16, 36, 0, 3, 0);
    for (const ce::WCHAR* name : {u"IDI_ZEQMENU_MAIN", u"IDI_ZEQMENU_OPTION", u"IDI_ZEQMENU_CONSOLE"}) {
        ce::HBITMAP bitmap = ce::LoadBitmapW(application_->instance, name);
        ce::ImageList_Add(images_, bitmap, nullptr);
        ce::DeleteObject(bitmap);
    }
    ce::SendMessageW(window_, ce::TCM_SETPADDING, 0, ce::MAKELPARAM(1, 1));
    ce::SendMessageW(window_, ce::TCM_SETIMAGELIST, 0, reinterpret_cast<ce::LPARAM>(images_));
    return true;
}

TabPage* TabStrip::currentPage() const {
    auto index = ce::SendMessageW(window_, ce::TCM_GETCURSEL, 0, 0);
    ce::TCITEMW item{};
    item.mask = ce::TCIF_PARAM;
    if (index < 0 || !ce::SendMessageW(window_, ce::TCM_GETITEMW, static_cast<ce::WPARAM>(index),
                                       reinterpret_cast<ce::LPARAM>(&item)))
        return nullptr;
    return reinterpret_cast<TabPage*>(item.lParam);
}

bool TabStrip::tabKeyDown(int key, ce::HWND cancel) {
    bool shift = (ce::GetKeyState(ce::VK_SHIFT) & 0x8000) != 0;
    if ((key == ce::VK_TAB && shift) || key == ce::VK_LEFT) {
        ce::SetFocus(cancel);
        return true;
    }
    if (key == ce::VK_TAB || key == ce::VK_RIGHT) {
        TabPage* page = currentPage();
        if (page) ce::SetFocus(ce::GetNextDlgTabItem(page->handle(), nullptr, ce::FALSE));
        return true;
    }
    return false;
}

// ---- MainWindow ----

MainWindow::MainWindow(Application* application) : Window(nullptr, application) {}

MainWindow::~MainWindow() {
    if (!created_) return;  // never made its window: nothing recorded anywhere
    // The window may outlive this object until the process ends: no message reaches it.
    if (window_) ce::SetWindowLongW(window_, 0, 0);
    BootMenu& menu = theBootMenu();
    if (menu.mainWindow == this) menu.mainWindow = nullptr;
    bootButton_.reset();
    cancelButton_.reset();
    progressBar_.reset();
    if (mainPage_ && menu.mainTab == mainPage_.get()) menu.mainTab = nullptr;
    mainPage_.reset();
    if (optionPage_ && menu.optionTab == optionPage_.get()) menu.optionTab = nullptr;
    optionPage_.reset();
    if (consolePage_ && menu.consoleTab == consolePage()) menu.consoleTab = nullptr;
    consolePage_.reset();
    tabWindow_.reset();
}

MainPage* MainWindow::mainPage() const { return static_cast<MainPage*>(mainPage_.get()); }
OptionPage* MainWindow::optionPage() const { return static_cast<OptionPage*>(optionPage_.get()); }
ConsolePage* MainWindow::consolePage() const { return static_cast<ConsolePage*>(consolePage_.get()); }

bool MainWindow::createWindow() {
    const ce::WCHAR* className = nullptr;
    ce::LoadStringW(application_->instance, CLASS_NAME_STRING, reinterpret_cast<ce::LPWSTR>(&className), 0);
    ce::WCHAR title[64];
    formatTitle(className ? className : u"", title);
    ce::HWND window = ce::CreateWindowExW(0, className, title, ce::WS_VISIBLE, ce::CW_USEDEFAULT, ce::CW_USEDEFAULT,
                                          ce::CW_USEDEFAULT, ce::CW_USEDEFAULT, nullptr, nullptr,
                                          application_->instance, this);
    if (!window) return false;
    int seconds = theBootMenu().autoBootSeconds;
    if (seconds > 0) ce::SetTimer(window, AUTO_BOOT_TIMER, static_cast<ce::UINT>(seconds) * 1000, nullptr);
    ce::ShowWindow(window, ce::SW_SHOW);
    ce::UpdateWindow(window);
    return true;
}

void MainWindow::create(const ce::CREATESTRUCTW& create) {
    created_ = true;
    application_->commandBar = ce::CommandBar_Create(create.hInstance, window_, COMMAND_BAR_ID);
    ce::CommandBar_AddAdornments(application_->commandBar, 0, 0);
    commandBarHeight_ = ce::CommandBar_Height(application_->commandBar);
    ce::HDC dc = ce::GetDC(nullptr);
    buttonWidth_ = ce::GetDeviceCaps(dc, ce::HORZRES) > 320 ? 75 : 50;
    ce::ReleaseDC(nullptr, dc);
    ce::RECT layout{};
    ce::GetClientRect(window_, &layout);
    layout.top += commandBarHeight_;
    // A child that cannot be made leaves a gap; the window still comes up.
    bootButton_ = std::make_unique<BootButton>(layout, *this);
    bootButton_->createWindow(create);
    cancelButton_ = std::make_unique<CancelButton>(layout, *this);
    cancelButton_->createWindow(create);
    progressBar_ = std::make_unique<ProgressBar>(layout, *this);
    progressBar_->createWindow(create);
    ce::HWND bar = progressBar_->handle();
    ce::SendMessageW(bar, ce::PBM_SETRANGE, 0, ce::MAKELPARAM(0, PROGRESS_STEPS));
    ce::SendMessageW(bar, ce::PBM_SETSTEP, 1, 0);
    ce::SendMessageW(bar, ce::PBM_SETPOS, 0, 0);
    theBootMenu().mainWindow = this;
    layout.top += commandBarHeight_;
    tabWindow_ = std::make_unique<TabStrip>(layout, window_, application_);
    tabWindow_->createWindow();
    mainPage_.reset(createTabPage(*tabWindow_, 0));
    optionPage_.reset(createTabPage(*tabWindow_, 1));
    consolePage_.reset(createTabPage(*tabWindow_, 2));
    if (mainPage_) mainPage_->showPage();
    ce::SetFocus(bootButton_->handle());
}

ce::LRESULT MainWindow::handleMessage(ce::HWND window, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam) {
    switch (message) {
    case ce::WM_CREATE:
        window_ = window;
        create(*reinterpret_cast<const ce::CREATESTRUCTW*>(lParam));
        return 1;
    case ce::WM_DESTROY: ce::PostQuitMessage(0); return 1;
    case ce::WM_ACTIVATE:
        if (ce::LOWORD(wParam) == ce::WA_INACTIVE)
            savedFocus_ = ce::GetFocus();
        else
            restoreFocus();
        return 1;
    case ce::WM_PAINT: {
        ce::PAINTSTRUCT paint;
        ce::BeginPaint(window, &paint);
        ce::EndPaint(window, &paint);
        return 1;
    }
    case ce::WM_NOTIFY: {
        ce::LRESULT result = 1;
        notify(*reinterpret_cast<const ce::NMHDR*>(lParam), result);
        return result;
    }
    case ce::WM_COMMAND:
        // The whole wParam: only the click notification of the two buttons acts.
        if (wParam == BOOT_BUTTON_ID) bootCommand();
        else if (wParam == CANCEL_BUTTON_ID) ce::PostQuitMessage(0);
        return 1;
    case ce::WM_TIMER:
        ce::KillTimer(window, AUTO_BOOT_TIMER);
        startBootSteps(theBootMenu());
        return 1;
    case ce::WM_ENTERMENULOOP: savedFocus_ = ce::GetFocus(); return 1;
    case ce::WM_EXITMENULOOP: restoreFocus(); return 1;
    default: return 0;
    }
}

void MainWindow::notify(const ce::NMHDR& header, ce::LRESULT& result) {
    if (!tabWindow_) return;
    TabPage* page = tabWindow_->currentPage();
    if (header.code == ce::TCN_SELCHANGING) {
        if (page) page->hidePage();
    } else if (header.code == ce::TCN_SELCHANGE) {
        if (page) page->showPage();
    } else if (header.code == ce::TCN_KEYDOWN) {
        const auto& key = reinterpret_cast<const ce::NMTCKEYDOWN&>(header);
        result = tabWindow_->tabKeyDown(key.wVKey, cancelButton_ ? cancelButton_->handle() : nullptr);
    }
}

void MainWindow::restoreFocus() {
    if (savedFocus_ && ce::IsWindow(savedFocus_) && ce::IsWindowEnabled(savedFocus_))
        ce::SetFocus(savedFocus_);
    else if (bootButton_)
        ce::SetFocus(bootButton_->handle());
}

void MainWindow::bootCommand() {
    BootMenu& menu = theBootMenu();
    menu.collectOptions();
    if (!confirmBoot(menu, window_)) return;
    startBootSteps(menu);
}

void MainWindow::progressStep(const char* label) {
    if (label) {
        if (Console* console = theConsole()) console->print(u"[progress] %S\n", label);
    }
    if (progressBar_) ce::SendMessageW(progressBar_->handle(), ce::PBM_STEPIT, 0, 0);
}

void MainWindow::progressReset() {
    if (progressBar_) ce::SendMessageW(progressBar_->handle(), ce::PBM_SETPOS, 0, 0);
}

bool MainWindow::navigate(const ce::MSG& message, TabPage* shown) {
    if (message.message != ce::WM_KEYDOWN) return false;
    ce::HWND boot = bootButton_ ? bootButton_->handle() : nullptr;
    ce::HWND cancel = cancelButton_ ? cancelButton_->handle() : nullptr;
    ce::HWND tabs = tabWindow_ ? tabWindow_->handle() : nullptr;
    ce::HWND next = nullptr, previous = nullptr;
    ce::LRESULT code = 0;
    if (message.hwnd && message.hwnd == boot) {
        next = cancel;
        previous = tabs;
    } else if (message.hwnd && message.hwnd == cancel) {
        next = tabs;
        previous = boot;
    } else {
        ce::HWND last = shown ? ce::GetNextDlgTabItem(shown->handle(), nullptr, ce::TRUE) : nullptr;
        if (!last || (message.hwnd != last && !ce::IsChild(last, message.hwnd))) return false;
        code = ce::SendMessageW(last, ce::WM_GETDLGCODE, 0, reinterpret_cast<ce::LPARAM>(&message));
        next = tabs;
    }
    ce::HWND target = nullptr;
    switch (message.wParam) {
    case ce::VK_TAB:
        if (code & ce::DLGC_WANTTAB) return false;
        target = (ce::GetKeyState(ce::VK_SHIFT) & 0x8000) ? previous : next;
        break;
    case ce::VK_LEFT:
    case ce::VK_UP:
        if (code & ce::DLGC_WANTARROWS) return false;
        target = previous;
        break;
    case ce::VK_RIGHT:
    case ce::VK_DOWN:
        if (code & ce::DLGC_WANTARROWS) return false;
        target = next;
        break;
    default: return false;
    }
    if (!target) return false;
    ce::SetFocus(target);
    return true;
}

bool MainWindow::preTranslate(ce::MSG* message) {
    TabPage* shown = nullptr;
    for (TabPage* page : {mainPage_.get(), optionPage_.get(), consolePage_.get()})
        if (page && page->handle() && ce::IsWindowVisible(page->handle())) {
            shown = page;
            break;
        }
    if (navigate(*message, shown)) return true;
    return shown && ce::IsDialogMessageW(shown->handle(), message);
}

// ---- The entry function ----

int entry(ce::HINSTANCE instance) {
    BootMenu& menu = theBootMenu();
    ce::InitCommonControls();
    auto application = std::make_unique<Application>(instance);
    application->console = theConsole();
    auto window = std::make_unique<MainWindow>(application.get());
    application->mainWindow = window.get();
    int exitCode = 0;

    const ce::WCHAR* className = nullptr;
    ce::LoadStringW(instance, CLASS_NAME_STRING, reinterpret_cast<ce::LPWSTR>(&className), 0);
    ce::WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.cbWndExtra = 4;
    windowClass.hInstance = instance;
    windowClass.hIcon = ce::LoadIconW(instance, ce::MAKEINTRESOURCEW(1));
    windowClass.hbrBackground = static_cast<ce::HBRUSH>(ce::GetStockObject(ce::LTGRAY_BRUSH));
    windowClass.lpszClassName = className;
    if (ce::RegisterClassW(&windowClass) && window->createWindow()) {
        theBootContext();
        ce::MSG message;
        while (ce::GetMessageW(&message, nullptr, 0, 0)) {
            // Any key or tap cancels the auto boot, and still does its own work.
            if (menu.autoBootSeconds > 0 && window &&
                (message.message == ce::WM_KEYDOWN || message.message == ce::WM_LBUTTONDOWN))
                ce::KillTimer(window->handle(), AUTO_BOOT_TIMER);
            if (window->preTranslate(&message)) continue;
            ce::TranslateMessage(&message);
            ce::DispatchMessageW(&message);
        }
        exitCode = static_cast<int>(message.wParam);
    }
    releaseBootContext();
    window.reset();
    application.reset();
    releaseConsole();
    releaseBootMenu();
    return exitCode;
}

}  // namespace quorvel::ui
