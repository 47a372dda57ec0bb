// The window calls, answered by the simulated handheld's window system.
#include <string>

#include "platform/coredll.h"
#include "platform/host/resources.h"
#include "sim/handheld.h"
#include "sim/windows/controls.h"
#include "sim/windows/window_system.h"

namespace ce {

namespace host {
namespace {

std::size_t templateBytes(const void* data) { return resourceBytesFrom(data); }

bool bitmapPixels(void* handle, sim::Bitmap& out) {
    const sim::DibImage* image = imageOf(handle);
    if (!image) return false;
    out = sim::Bitmap{image->width, image->height, image->pixels};
    return true;
}

}  // namespace
}  // namespace host

namespace {

sim::WindowSystem& ws() { return sim::Handheld::current().windows(); }

constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND_HERE = 1812;

std::u16string text(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

// A class named by an atom in the pointer is not one the system registers.
bool isAtom(LPCWSTR name) { return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0; }

HGDIOBJ stockObject(int index) { return reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(0x80 + index)); }

bool windowOrFail(HWND window) {
    if (ws().window(window)) return true;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
}

}  // namespace

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    if (!windowOrFail(window)) return nullptr;
    sim::Window* w = ws().window(window);
    w->needsPaint = false;
    HDC dc = GetDC(window);
    if (paint) {
        *paint = PAINTSTRUCT{};
        paint->hdc = dc;
        paint->rcPaint = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    }
    return dc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }

HGDIOBJ GetStockObject(int object) { return object >= 0 && object <= 5 ? stockObject(object) : nullptr; }

BOOL DeleteObject(HGDIOBJ object) {
    if (!object) return FALSE;
    if (object >= stockObject(0) && object <= stockObject(5)) return TRUE;  // stock objects stay
    if (ws().deleteObject(object)) return TRUE;
    return sim::Handheld::current().closeHandle(object) ? TRUE : FALSE;
}

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || isAtom(windowClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ATOM atom = ws().registerClass(*windowClass);
    if (!atom) SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return atom;
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowText, DWORD style, int x, int y, int width, int height,
                     HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID parameter) {
    if (!className || isAtom(className)) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    int id = static_cast<int>(reinterpret_cast<std::uintptr_t>(menuOrId));
    HWND window = ws().createWindow(exStyle, className, text(windowText), style, x, y, width, height, parent, id, instance,
                                    parameter);
    if (!window) SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return window;
}

BOOL DestroyWindow(HWND window) { return windowOrFail(window) && ws().destroyWindow(window) ? TRUE : FALSE; }

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ws().defWindowProc(window, message, wParam, lParam);
}

BOOL ShowWindow(HWND window, int command) { return windowOrFail(window) && ws().showWindow(window, command) ? TRUE : FALSE; }

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
    return windowOrFail(window) && ws().moveWindow(window, x, y, width, height) ? TRUE : FALSE;
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int width, int height, UINT flags) {
    return windowOrFail(window) && ws().setWindowPos(window, x, y, width, height, flags) ? TRUE : FALSE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    if (!windowOrFail(window) || !rect) return FALSE;
    *rect = sim::clientRect(*ws().window(window));
    return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    if (!windowOrFail(window) || !rect) return FALSE;
    *rect = ws().screenRect(window);
    return TRUE;
}

BOOL IsWindow(HWND window) { return ws().window(window) ? TRUE : FALSE; }
BOOL IsWindowVisible(HWND window) { return ws().isVisible(window) ? TRUE : FALSE; }
BOOL IsWindowEnabled(HWND window) { return ws().isEnabled(window) ? TRUE : FALSE; }
BOOL EnableWindow(HWND window, BOOL enable) { return ws().enable(window, enable != FALSE) ? TRUE : FALSE; }
BOOL IsChild(HWND parent, HWND window) { return ws().isChildOf(parent, window) ? TRUE : FALSE; }

HWND GetParent(HWND window) {
    sim::Window* w = ws().window(window);
    return w ? w->parent : nullptr;
}

LONG_PTR SetWindowLongW(HWND window, int index, LONG_PTR value) {
    if (!windowOrFail(window)) return 0;
    SetLastError(0);
    LONG_PTR old = ws().setWindowLong(window, index, value);
    sim::Window* w = ws().window(window);
    if (index >= 0 && index + 4 > w->wordBytes && !(w->dialog && index <= 8)) SetLastError(ERROR_INVALID_INDEX);
    return old;
}

LONG_PTR GetWindowLongW(HWND window, int index) {
    if (!windowOrFail(window)) return 0;
    return ws().getWindowLong(window, index);
}

BOOL SetWindowTextW(HWND window, LPCWSTR windowText) {
    if (!windowOrFail(window)) return FALSE;
    return ws().sendMessage(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(windowText)) ? TRUE : FALSE;
}

int GetWindowTextW(HWND window, LPWSTR out, int size) {
    if (!windowOrFail(window)) {
        if (out && size > 0) out[0] = 0;
        return 0;
    }
    return static_cast<int>(ws().sendMessage(window, WM_GETTEXT, static_cast<WPARAM>(size > 0 ? size : 0),
                                             reinterpret_cast<LPARAM>(out)));
}

int GetWindowTextLengthW(HWND window) {
    return windowOrFail(window) ? static_cast<int>(ws().sendMessage(window, WM_GETTEXTLENGTH, 0, 0)) : 0;
}

HWND GetDlgItem(HWND dialog, int id) {
    if (!windowOrFail(dialog)) return nullptr;
    return ws().dialogItem(dialog, id);
}

int GetDlgCtrlID(HWND window) {
    sim::Window* w = ws().window(window);
    return w ? w->id : 0;
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND item = GetDlgItem(dialog, id);
    return item ? ws().sendMessage(item, message, wParam, lParam) : 0;
}

BOOL GetMessageW(MSG* message, HWND window, UINT first, UINT last) {
    return ws().getMessage(message, window, first, last) ? TRUE : FALSE;
}

BOOL PeekMessageW(MSG* message, HWND window, UINT first, UINT last, UINT remove) {
    return ws().peekMessage(message, window, first, last, remove) ? TRUE : FALSE;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ws().postMessage(window, message, wParam, lParam) ? TRUE : FALSE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ws().sendMessage(window, message, wParam, lParam);
}

BOOL TranslateMessage(const MSG* message) { return ws().translateMessage(message) ? TRUE : FALSE; }
LRESULT DispatchMessageW(const MSG* message) { return ws().dispatchMessage(message); }
void PostQuitMessage(int exitCode) { ws().postQuit(exitCode); }

UINT SetTimer(HWND window, UINT id, UINT milliseconds, TIMERPROC procedure) {
    return ws().setTimer(window, id, milliseconds, procedure);
}

BOOL KillTimer(HWND window, UINT id) { return ws().killTimer(window, id) ? TRUE : FALSE; }

HWND SetFocus(HWND window) { return ws().setFocus(window); }
HWND GetFocus() { return ws().focus(); }
HWND GetActiveWindow() { return ws().active(); }

short GetKeyState(int virtualKey) {
    return static_cast<short>(ws().keyDownNow(virtualKey) ? 0x8000 : 0);
}

HWND CreateDialogIndirectParamW(HINSTANCE instance, const void* dialogTemplate, HWND parent, DLGPROC procedure,
                                LPARAM parameter) {
    // The template is read only as far as the resource it lies in reaches.
    std::size_t size = dialogTemplate ? host::templateBytes(dialogTemplate) : 0;
    if (size == 0) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND_HERE);
        return nullptr;
    }
    return ws().createDialog(dialogTemplate, size, parent, procedure, parameter, instance);
}

BOOL IsDialogMessageW(HWND dialog, MSG* message) { return ws().isDialogMessage(dialog, message) ? TRUE : FALSE; }

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) { return ws().nextTabItem(dialog, control, previous != FALSE); }

HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous) {
    return ws().nextGroupItem(dialog, control, previous != FALSE);
}

BOOL EndDialog(HWND dialog, int result) { return ws().endDialog(dialog, result) ? TRUE : FALSE; }

void InitCommonControls() { ws(); }

HWND CommandBar_Create(HINSTANCE instance, HWND parent, int id) {
    sim::Window* p = ws().window(parent);
    if (!p) return nullptr;
    RECT client = sim::clientRect(*p);
    return ws().createWindow(0, u"CommandBar", u"", WS_CHILD | WS_VISIBLE, 0, 0, client.right, ws().commandBarHeight(), parent,
                             id, instance, nullptr);
}

BOOL CommandBar_AddAdornments(HWND commandBar, DWORD, DWORD) {
    sim::Window* w = ws().window(commandBar);
    if (!w || w->className != sim::COMMANDBAR_CLASS) return FALSE;
    sim::stateOf<sim::CommandBarState>(w)->closeBox = true;  // the close box is always there on this device
    ws().invalidate(commandBar);
    return TRUE;
}

int CommandBar_Height(HWND commandBar) {
    sim::Window* w = ws().window(commandBar);
    return w ? w->rect.bottom - w->rect.top : 0;
}

HIMAGELIST ImageList_Create(int width, int height, UINT, int, int) { return ws().createImageList(width, height); }

int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP) {
    // A bitmap of the module's resources is the handheld's handle; turn it into pixels.
    if (!ws().bitmap(image)) {
        sim::Bitmap pixels;
        if (!host::bitmapPixels(image, pixels)) return -1;
        HBITMAP copy = ws().addBitmap(std::move(pixels));
        int index = ws().addToImageList(list, copy);
        ws().deleteObject(copy);
        return index;
    }
    return ws().addToImageList(list, image);
}

BOOL ImageList_Destroy(HIMAGELIST list) { return ws().deleteObject(list) ? TRUE : FALSE; }

HWND CreateUpDownControl(DWORD style, int x, int y, int width, int height, HWND parent, int id, HINSTANCE instance, HWND buddy,
                         int upper, int lower, int position) {
    HWND control = ws().createWindow(0, u"msctls_updown32", u"", style, x, y, width, height, parent, id, instance, nullptr);
    if (!control) return nullptr;
    ws().sendMessage(control, UDM_SETBUDDY, reinterpret_cast<WPARAM>(buddy), 0);
    ws().sendMessage(control, UDM_SETRANGE, 0, MAKELPARAM(static_cast<WORD>(upper), static_cast<WORD>(lower)));
    ws().sendMessage(control, UDM_SETPOS, 0, MAKELPARAM(static_cast<WORD>(position), 0));
    return control;
}

BOOL UpdateWindow(HWND window) {
    sim::Handheld& device = sim::Handheld::current();
    device.updatedWindows().push_back(reinterpret_cast<std::uintptr_t>(window));
    if (sim::WindowSystem* windows = device.windowsIfAny()) {
        if (!window || !windows->window(window)) return window ? FALSE : TRUE;
        // The window's own WM_PAINT, then the screen.
        if (windows->window(window)->needsPaint) {
            windows->window(window)->needsPaint = false;
            windows->sendMessage(window, WM_PAINT, 0, 0);
        }
        windows->paint();
    }
    return TRUE;
}

}  // namespace ce
