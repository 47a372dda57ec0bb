// The dialog class: the program's dialog procedure first, then the focus kept.
#include "sim/windows/controls/dialog.h"

#include "sim/windows/controls/control.h"

namespace sim {

using namespace ce;
using control::ws;

LRESULT dialogProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    if (w->dialogProcedure) {
        BOOL handled = w->dialogProcedure(h, message, wParam, lParam);
        if (!ws().window(h)) return 0;
        if (handled) return message == WM_GETDLGCODE ? handled : ws().getWindowLong(h, DWL_MSGRESULT);
    }
    switch (message) {
    case WM_SETFOCUS:
    case WM_ACTIVATE: {
        if (message == WM_ACTIVATE && LOWORD(wParam) == WA_INACTIVE) return 0;
        HWND to = w->dialogFocus && ws().isChildOf(h, w->dialogFocus) && ws().isEnabled(w->dialogFocus)
                      ? w->dialogFocus
                      : ws().nextTabItem(h, nullptr, false);
        if (to) ws().setFocus(to);
        return 0;
    }
    case WM_CLOSE: ws().postMessage(h, WM_COMMAND, MAKEWPARAM(2 /* IDCANCEL */, 0), 0); return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

}  // namespace sim
