// Notifications, and where a window's client area lies inside it.
#include "sim/windows/controls/control.h"

#include <algorithm>

namespace sim {

using namespace ce;

namespace control {

void notify(HWND h, WORD code) {
    Window* w = ws().window(h);
    if (w && w->parent) ws().sendMessage(w->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code), reinterpret_cast<LPARAM>(h));
}

LRESULT notifyHeader(HWND h, UINT code) {
    Window* w = ws().window(h);
    if (!w || !w->parent) return 0;
    NMHDR header{h, static_cast<UINT>(w->id), code};
    return ws().sendMessage(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&header));
}

int scaled(int v) { return v * ws().dpi() / 96; }

}  // namespace control

using control::scaled;

int captionHeight() { return scaled(18); }

POINT clientOrigin(const Window& w) {
    int inset = 0;
    if (w.exStyle & WS_EX_CLIENTEDGE) inset += 2;
    if (w.style & WS_BORDER) inset += 1;
    if ((w.style & WS_CAPTION) == WS_CAPTION || (w.exStyle & WS_EX_DLGMODALFRAME)) inset = 2;
    int top = inset + ((w.style & WS_CAPTION) == WS_CAPTION ? captionHeight() : 0);
    return {inset, top};
}

RECT clientRect(const Window& w) {
    POINT o = clientOrigin(w);
    int inset = o.x;
    LONG width = std::max<LONG>(0, w.rect.right - w.rect.left - o.x - inset);
    LONG height = std::max<LONG>(0, w.rect.bottom - w.rect.top - o.y - inset);
    return {0, 0, width, height};
}

}  // namespace sim
