// Message boxes, the screen, resources and debug output; the window calls are in
// window_calls.cpp.
#include <string>

#include "platform/coredll.h"
#include "platform/resources.h"
#include "sim/handheld.h"
#include "sim/windows/window_system.h"

namespace ce {

namespace {
// The one module and the screen's device context are fixed, non-null tokens.
HINSTANCE const thisModule = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x10000));
HDC const screenDc = reinterpret_cast<HDC>(static_cast<std::uintptr_t>(0x20000));
}  // namespace

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    sim::Handheld& device = sim::Handheld::current();
    std::u16string body = text ? std::u16string(text) : std::u16string();
    std::u16string title = caption ? std::u16string(caption) : std::u16string(u"Error");
    // A program with windows on the screen gets a real modal box; without a
    // screen the scripted answers and the policy answer.
    sim::WindowSystem* windows = device.windowsIfAny();
    if (windows && windows->hasWindows()) {
        int answer = windows->messageBox(owner, body, title, type);
        device.messageBoxes().record({reinterpret_cast<std::uintptr_t>(owner), body, title, type, answer});
        return answer;
    }
    return device.messageBoxes().show(reinterpret_cast<std::uintptr_t>(owner), body, title, type);
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

HDC GetDC(HWND) { return screenDc; }
int ReleaseDC(HWND, HDC) { return 1; }

int GetDeviceCaps(HDC, int index) {
    const sim::DeviceSettings& settings = sim::Handheld::current().settings();
    switch (index) {
    case HORZRES: return settings.screenWidth;
    case VERTRES: return settings.screenHeight;
    case BITSPIXEL: return settings.bitsPerPixel;
    case LOGPIXELSX:
    case LOGPIXELSY: return settings.dpi;
    default: return 0;
    }
}

void OutputDebugStringW(LPCWSTR text) {
    if (text) sim::Handheld::current().debugOutput().emplace_back(text);
}

}  // namespace ce
