#include "ui/pages.h"

#include <algorithm>
#include <new>

#include "boot/boot_menu.h"
#include "platform/coredll.h"
#include "platform/windows.h"
#include "ui/app_window.h"
#include "ui/resources/resource_ids.h"

namespace quorvel::ui {

namespace {

int screenCaps(int index) {
    ce::HDC dc = ce::GetDC(nullptr);
    int value = ce::GetDeviceCaps(dc, index);
    ce::ReleaseDC(nullptr, dc);
    return value;
}

// Decimal prefix of a wide text, as _wtol reads it; 0 when there is none.
long wideToLong(const ce::WCHAR* text) {
    while (*text == u' ' || *text == u'\t') ++text;
    bool negative = *text == u'-';
    if (*text == u'-' || *text == u'+') ++text;
    long value = 0;
    for (; *text >= u'0' && *text <= u'9'; ++text) value = value * 10 + (*text - u'0');
    return negative ? -value : value;
}

// A control's text read into a buffer of `size` units: cut and always terminated.
template <std::size_t N>
void controlText(ce::HWND control, ce::WCHAR (&out)[N], int size = static_cast<int>(N)) {
    out[0] = 0;
    ce::GetWindowTextW(control, out, size);
    out[size - 1] = 0;
}

}  // namespace

// ---- TabPage ----

TabPage::TabPage(TabStrip& tabs, int pageIndex, const ce::WCHAR* templateName)
    : Window(tabs.handle(), tabs.application()),
      tabs_(tabs),
      pageRect_(tabs.rect()),
      pageIndex_(pageIndex),
      templateName_(templateName) {}

TabPage::~TabPage() {
    if (window_) ce::SetWindowLongW(window_, ce::DWL_USER, 0);
}

int TabPage::scaleX(int v) { return v * screenCaps(ce::LOGPIXELSX) / 96; }
int TabPage::scaleY(int v) { return v * screenCaps(ce::LOGPIXELSY) / 96; }

ce::LRESULT TabPage::handleMessage(ce::HWND dialog, ce::UINT message, ce::WPARAM wParam, ce::LPARAM) {
    if (message == ce::WM_INITDIALOG) {
        initPage(dialog);
        return 1;
    }
    if (message == ce::WM_COMMAND) {
        command(ce::LOWORD(wParam), ce::HIWORD(wParam));
        return 1;
    }
    return 0;
}

bool TabPage::createWindow() {
    ce::HINSTANCE instance = application_->instance;
    ce::HRSRC resource = ce::FindResourceW(instance, templateName_, ce::RT_DIALOG);
    if (!resource) return false;
    ce::HGLOBAL bytes = ce::LoadResource(instance, resource);
    if (!bytes) return false;
    window_ = ce::CreateDialogIndirectParamW(instance, ce::LockResource(bytes), parent_, dialogProcedure,
                                             reinterpret_cast<ce::LPARAM>(this));
    return window_ != nullptr;
}

void TabPage::initPage(ce::HWND dialog) {
    window_ = dialog;
    ce::TCITEMW item{};
    item.mask = ce::TCIF_IMAGE | ce::TCIF_PARAM;
    item.iImage = pageIndex_;
    item.lParam = reinterpret_cast<ce::LPARAM>(this);
    ce::SendMessageW(parent_, ce::TCM_INSERTITEMW, static_cast<ce::WPARAM>(pageIndex_),
                     reinterpret_cast<ce::LPARAM>(&item));
    ce::SendMessageW(parent_, ce::TCM_ADJUSTRECT, 0, reinterpret_cast<ce::LPARAM>(&pageRect_));
    hidePage();
}

void TabPage::command(int, int) {}

void TabPage::hidePage() { ce::ShowWindow(window_, ce::SW_HIDE); }

void TabPage::showPage() {
    ce::MoveWindow(window_, pageRect_.left, 0, pageRect_.right - pageRect_.left, pageRect_.bottom - pageRect_.top,
                   ce::TRUE);
    ce::ShowWindow(window_, ce::SW_SHOW);
}

bool TabPage::isChecked(int id) const {
    return ce::SendDlgItemMessageW(window_, id, ce::BM_GETCHECK, 0, 0) != 0;
}

void TabPage::setChecked(int id, bool flag) const {
    ce::SendDlgItemMessageW(window_, id, ce::BM_SETCHECK, flag ? 1 : 0, 0);
}

TabPage* createTabPage(TabStrip& tabs, int index) {
    BootMenu& menu = theBootMenu();
    TabPage* page = nullptr;
    switch (index) {
    case 0: page = new MainPage(tabs); menu.mainTab = page; break;
    case 1: page = new OptionPage(tabs); menu.optionTab = page; break;
    case 2: {
        auto* console = new ConsolePage(tabs);
        menu.consoleTab = console;
        page = console;
        break;
    }
    default: return nullptr;
    }
    page->createWindow();
    return page;
}

// ---- MainPage ----

void MainPage::initPage(ce::HWND dialog) {
    ui::TabPage::initPage(dialog);
    BootMenu& menu = theBootMenu();
    for (int i = 0;; ++i) {
        const ce::WCHAR* entry = menu.directoryEntry(i);
        if (!entry) break;
        ce::SendDlgItemMessageW(dialog, IDC_KERNEL_DIRECTORY, ce::CB_ADDSTRING, 0, reinterpret_cast<ce::LPARAM>(entry));
    }
    ce::SendDlgItemMessageW(dialog, IDC_KERNEL_DIRECTORY, ce::CB_SETCURSEL, static_cast<ce::WPARAM>(menu.directorySelection()), 0);
    fillPlatforms();
    ce::SetWindowTextW(ce::GetDlgItem(dialog, IDC_KERNEL_NAME), menu.kernelNameSet ? menu.kernelName : u"tamsel.gz");
    setChecked(IDC_ROOT_WD + menu.rootFileSystem, true);
    imageEdit_ = ce::GetDlgItem(dialog, IDC_IMAGE_NAME);
    ce::SetWindowTextW(imageEdit_, menu.fileSystemImage);
    ce::EnableWindow(imageEdit_, IDC_ROOT_WD + menu.rootFileSystem == IDC_ROOT_MD);
    layoutFlags();
    setChecked(IDC_ASK_NAME, menu.askFileName);
    setChecked(IDC_KERNEL_DEBUGGER, menu.kernelDebugger);
    setChecked(IDC_SINGLE_USER, menu.bootSingleUser);
    setChecked(IDC_BOOT_VERBOSE, menu.bootVerbose);
    setChecked(IDC_SERIAL_CONSOLE, menu.serialConsole);
    speedList_ = ce::GetDlgItem(dialog, IDC_SERIAL_SPEED);
    static const ce::WCHAR* const speeds[] = {u"9600", u"19200", u"115200"};
    int chosen = 0;
    for (int i = 0; i < 3; ++i) {
        ce::SendMessageW(speedList_, ce::CB_ADDSTRING, 0, reinterpret_cast<ce::LPARAM>(speeds[i]));
        if (static_cast<std::uint32_t>(wideToLong(speeds[i])) == menu.serialSpeed) chosen = i;
    }
    ce::SendMessageW(speedList_, ce::CB_SETCURSEL, static_cast<ce::WPARAM>(chosen), 0);
    ce::EnableWindow(speedList_, menu.serialConsole);
}

void MainPage::fillPlatforms() {
    BootMenu& menu = theBootMenu();
    ce::HWND list = ce::GetDlgItem(window_, IDC_PLATFORM);
    int count = 0;
    while (menu.platformEntryName(count)) ++count;
    int current = menu.selectedPlatformEntry();
    platformOrder_.reset(new (std::nothrow) PlatformOrder[static_cast<std::size_t>(count)]);
    if (!platformOrder_) {
        for (int i = 0; i < count; ++i)
            ce::SendMessageW(list, ce::CB_ADDSTRING, 0, reinterpret_cast<ce::LPARAM>(menu.platformEntryName(i)));
        ce::SendMessageW(list, ce::CB_SETCURSEL, static_cast<ce::WPARAM>(current), 0);
        return;
    }
    for (int i = 0; i < count; ++i)
        platformOrder_[i] = {i, menu.platformEntryName(i)};
    std::stable_sort(platformOrder_.get(), platformOrder_.get() + count,
                     [](const PlatformOrder& a, const PlatformOrder& b) { return ce::wcscmp(a.name, b.name) < 0; });
    int selected = 0;
    for (int i = 0; i < count; ++i) {
        ce::SendMessageW(list, ce::CB_ADDSTRING, 0, reinterpret_cast<ce::LPARAM>(platformOrder_[i].name));
        if (platformOrder_[i].index == current) selected = i;
    }
    ce::SendMessageW(list, ce::CB_SETCURSEL, static_cast<ce::WPARAM>(selected), 0);
}

void MainPage::layoutFlags() {
    int width = screenCaps(ce::HORZRES), height = screenCaps(ce::VERTRES);
    int dpiX = screenCaps(ce::LOGPIXELSX), dpiY = screenCaps(ce::LOGPIXELSY);
    // A wide, short screen has room beside the other controls.
    int x0 = 5, y0 = 140;
    if (width > 320 && height <= 240) x0 = 250, y0 = 5;
    struct Place {
        int id, x, y;
    };
    const Place places[] = {{IDC_BOOT_VERBOSE, x0, y0},      {IDC_SINGLE_USER, x0, y0 + 20}, {IDC_ASK_NAME, x0, y0 + 40},
                            {IDC_KERNEL_DEBUGGER, x0, y0 + 60}, {IDC_SERIAL_CONSOLE, x0, y0 + 80}, {IDC_SERIAL_SPEED, x0 + 100, y0 + 80}};
    for (const Place& p : places)
        ce::SetWindowPos(ce::GetDlgItem(window_, p.id), nullptr, p.x * dpiX / 96, p.y * dpiY / 96, 0, 0,
                         ce::SWP_NOSIZE | ce::SWP_NOZORDER);
}

void MainPage::command(int id, int) {
    if (id >= IDC_ROOT_WD && id <= IDC_ROOT_LD) ce::EnableWindow(imageEdit_, isChecked(IDC_ROOT_MD));
    if (id == IDC_SERIAL_CONSOLE) ce::EnableWindow(speedList_, isChecked(IDC_SERIAL_CONSOLE));
}

void MainPage::collect() {
    BootMenu& menu = theBootMenu();
    controlText(ce::GetDlgItem(window_, IDC_KERNEL_DIRECTORY), menu.kernelDirectory);
    menu.kernelDirectorySet = 1;
    controlText(ce::GetDlgItem(window_, IDC_KERNEL_NAME), menu.kernelName);
    menu.kernelNameSet = 1;
    auto position = ce::SendDlgItemMessageW(window_, IDC_PLATFORM, ce::CB_GETCURSEL, 0, 0);
    if (position != ce::CB_ERR) {
        int index = platformOrder_ ? platformOrder_[position].index : static_cast<int>(position);
        menu.selectPlatformEntry(index);
    }
    for (int id = IDC_ROOT_WD; id <= IDC_ROOT_LD; ++id) {
        if (!isChecked(id)) continue;
        menu.rootFileSystem = id - IDC_ROOT_WD;
        break;
    }
    menu.askFileName = isChecked(IDC_ASK_NAME);
    menu.kernelDebugger = isChecked(IDC_KERNEL_DEBUGGER);
    menu.bootVerbose = isChecked(IDC_BOOT_VERBOSE);
    menu.bootSingleUser = isChecked(IDC_SINGLE_USER);
    menu.serialConsole = isChecked(IDC_SERIAL_CONSOLE);
    controlText(imageEdit_, menu.fileSystemImage);
    ce::WCHAR speed[8];
    controlText(speedList_, speed);
    menu.serialSpeed = static_cast<std::uint32_t>(wideToLong(speed));
}

// ---- OptionPage ----

void OptionPage::initPage(ce::HWND dialog) {
    ui::TabPage::initPage(dialog);
    BootMenu& menu = theBootMenu();
    autoBootEdit_ = ce::GetDlgItem(dialog, IDC_AUTO_BOOT_SECONDS);
    autoBootSpin_ = ce::CreateUpDownControl(0x50800006, scaleX(80), 0, scaleX(50), scaleY(50), dialog, IDC_AUTO_BOOT_SPIN,
                                            application_->instance, autoBootEdit_, 60, 1, 30);
    bool on = menu.autoBootSeconds != 0;
    ce::EnableWindow(autoBootEdit_, on);
    ce::EnableWindow(autoBootSpin_, on);
    setChecked(IDC_AUTO_BOOT, on);
    if (on) {
        ce::WCHAR seconds[32];
        ce::wsprintfW(seconds, u"%d", menu.autoBootSeconds);
        ce::SetWindowTextW(autoBootEdit_, seconds);
    }
    setChecked(IDC_REVERSE_VIDEO, menu.reverseVideo);
    setChecked(IDC_PAUSE_BEFORE_BOOT, menu.pauseBeforeBoot);
    setChecked(IDC_LOAD_DEBUG_INFO, menu.loadDebugInfo);
    setChecked(IDC_SAFETY_MESSAGE, menu.safetyMessage);
    ce::SetWindowTextW(ce::GetDlgItem(dialog, IDC_EXTRA_OPTIONS), menu.extraKernelOptions);
}

void OptionPage::command(int id, int) {
    if (id != IDC_AUTO_BOOT) return;
    bool on = isChecked(IDC_AUTO_BOOT);
    ce::EnableWindow(autoBootEdit_, on);
    ce::EnableWindow(autoBootSpin_, on);
}

void OptionPage::collect() {
    BootMenu& menu = theBootMenu();
    menu.autoBootSeconds = 0;
    if (isChecked(IDC_AUTO_BOOT)) {
        ce::WCHAR seconds[32];
        controlText(autoBootEdit_, seconds);
        menu.autoBootSeconds = static_cast<std::int32_t>(wideToLong(seconds));
    }
    menu.reverseVideo = isChecked(IDC_REVERSE_VIDEO);
    menu.pauseBeforeBoot = isChecked(IDC_PAUSE_BEFORE_BOOT);
    menu.loadDebugInfo = isChecked(IDC_LOAD_DEBUG_INFO);
    menu.safetyMessage = isChecked(IDC_SAFETY_MESSAGE);
    controlText(ce::GetDlgItem(window_, IDC_EXTRA_OPTIONS), menu.extraKernelOptions);
}

// ---- ConsolePage ----

ConsolePage::~ConsolePage() {
    if (logFile_ != ce::INVALID_HANDLE_VALUE) ce::CloseHandle(logFile_);
}

void ConsolePage::initPage(ce::HWND dialog) {
    ui::TabPage::initPage(dialog);
    logView_ = ce::GetDlgItem(dialog, IDC_LOG_VIEW);
    int dpiX = screenCaps(ce::LOGPIXELSX), dpiY = screenCaps(ce::LOGPIXELSY);
    int width = pageRect_.right - pageRect_.left, height = pageRect_.bottom - pageRect_.top;
    ce::MoveWindow(logView_, scaleX(5), scaleY(60), scaleX(96 * width / dpiX - 10), scaleY(96 * height / dpiY - 60),
                   ce::TRUE);
    ce::SendMessageW(logView_, ce::EM_FMTLINES, ce::TRUE, 0);
    logNameEdit_ = ce::GetDlgItem(dialog, IDC_LOG_NAME);
    saveToFile_ = 0;
    ce::SetWindowTextW(logNameEdit_, u"bootlog.txt");
    ce::EnableWindow(logNameEdit_, ce::FALSE);
}

void ConsolePage::command(int id, int) {
    BootMenu& menu = theBootMenu();
    if (id >= IDC_DEBUG_BIT0 && id <= IDC_DEBUG_BIT7) {
        std::uint32_t bit = 1u << (id - IDC_DEBUG_BIT0);
        if (isChecked(id))
            menu.debugBits |= bit;
        else
            menu.debugBits &= ~bit;
    } else if (id >= IDC_DEBUG_HOOK_A && id <= IDC_DEBUG_HOOK_D) {
        DebugHook& hook = menu.debugHooks[id - IDC_DEBUG_HOOK_A];
        if (hook.function) hook.function(hook.argument, menu.debugBits & 0xFF, &hook);
    } else if (id == IDC_SAVE_LOG) {
        saveToFile_ = isChecked(IDC_SAVE_LOG);
        ce::EnableWindow(logNameEdit_, saveToFile_);
    }
}

bool ConsolePage::openLogFile() {
    ce::WCHAR directory[PATH_SIZE];
    if (!storageCardDirectory(directory)) {
        appendLog(u"couldn't find temporary directory.\n", true);
        return false;
    }
    ce::WCHAR name[PATH_SIZE];
    controlText(logNameEdit_, name);
    std::size_t length = 1 + ce::wcslen(directory) + 1 + ce::wcslen(name);
    if (length >= PATH_SIZE) return false;  // checked before anything is written
    ce::WCHAR path[PATH_SIZE];
    ce::wsprintfW(path, u"\\%s\\%s", directory, name);
    logFile_ = ce::CreateFileW(path, ce::GENERIC_WRITE, 0, nullptr, ce::CREATE_ALWAYS, ce::FILE_ATTRIBUTE_NORMAL,
                               nullptr);
    if (logFile_ == ce::INVALID_HANDLE_VALUE) return false;
    ce::WCHAR message[PATH_SIZE + 32];
    ce::wsprintfW(message, u"log file is %s\n", path);
    appendLog(message, true);
    return true;
}

void ConsolePage::appendLog(const ce::WCHAR* text, bool toWindow) {
    if (!toWindow && saveToFile_) {
        if (logFile_ != ce::INVALID_HANDLE_VALUE || openLogFile()) {
            for (const ce::WCHAR* unit = text; *unit; ++unit) {
                char byte = static_cast<char>(*unit & 0x7F);
                ce::DWORD written = 0;
                ce::WriteFile(logFile_, &byte, 1, &written, nullptr);
            }
            ce::FlushFileBuffers(logFile_);
            return;
        }
        saveToFile_ = 0;
        setChecked(IDC_SAVE_LOG, false);
        ce::EnableWindow(logNameEdit_, ce::FALSE);
    }
    if (!logView_) return;  // a page whose dialog could not be made shows nothing
    std::size_t length = ce::wcslen(text), feeds = std::count(text, text + length, u'\n');
    std::unique_ptr<ce::WCHAR[]> copy(new (std::nothrow) ce::WCHAR[length + feeds + 1]);
    if (!copy) return;
    ce::WCHAR* out = copy.get();
    for (const ce::WCHAR* unit = text; *unit; ++unit) {
        if (*unit == u'\n') *out++ = u'\r';
        *out++ = *unit;
    }
    *out = 0;
    // The view follows new lines only while the reader has left it at the end, which
    // is where a scroll by one line down moves nothing.
    ce::LRESULT shown = ce::SendMessageW(logView_, ce::EM_GETFIRSTVISIBLELINE, 0, 0);
    ce::SendMessageW(logView_, ce::EM_LINESCROLL, 0, 1);
    bool following = ce::SendMessageW(logView_, ce::EM_GETFIRSTVISIBLELINE, 0, 0) == shown;
    auto end = static_cast<ce::WPARAM>(ce::GetWindowTextLengthW(logView_));
    ce::SendMessageW(logView_, ce::EM_SETSEL, end, static_cast<ce::LPARAM>(end));
    ce::SendMessageW(logView_, ce::EM_REPLACESEL, 0, reinterpret_cast<ce::LPARAM>(copy.get()));
    if (following)
        ce::SendMessageW(logView_, ce::EM_SCROLLCARET, 0, 0);
    else
        ce::SendMessageW(logView_, ce::EM_LINESCROLL, 0,
                         shown - ce::SendMessageW(logView_, ce::EM_GETFIRSTVISIBLELINE, 0, 0));
    ce::UpdateWindow(logView_);
}

}  // namespace quorvel::ui
