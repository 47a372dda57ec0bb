// The screen as the graphics calls see it: one device context and the device's
// screen settings.
#include "platform/coredll.h"
#include "sim/handheld.h"

namespace ce {

namespace {
// The screen's device context is a fixed, non-null token.
HDC const screenDc = reinterpret_cast<HDC>(static_cast<std::uintptr_t>(0x20000));
}  // namespace

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

}  // namespace ce
