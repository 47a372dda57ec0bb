// Message boxes, windows, the screen, resources and debug output.
#include <string>

#include "platform/coredll.h"
#include "platform/resources.h"
#include "sim/handheld.h"

namespace ce {

namespace {
// The one module and the screen's device context are fixed, non-null tokens.
HINSTANCE const thisModule = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x10000));
HDC const screenDc = reinterpret_cast<HDC>(static_cast<std::uintptr_t>(0x20000));
}  // namespace

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    return sim::Handheld::current().messageBoxes().show(reinterpret_cast<std::uintptr_t>(owner),
                                                         text ? std::u16string(text) : std::u16string(),
                                                         caption ? std::u16string(caption) : std::u16string(u"Error"),
                                                         type);
}

BOOL UpdateWindow(HWND window) {
    sim::Handheld::current().updatedWindows().push_back(reinterpret_cast<std::uintptr_t>(window));
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
