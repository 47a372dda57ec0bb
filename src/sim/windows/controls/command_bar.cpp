// The command bar across the top of the main window, with its close box.
#include "sim/windows/controls/command_bar.h"

#include "sim/windows/controls/control.h"

namespace sim {

using namespace ce;
using control::ws;
using control::xOf;

LRESULT commandBarProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    CommandBarState* s = stateOf<CommandBarState>(w);
    RECT r = clientRect(*w);
    int box = r.bottom - r.top;
    bool inClose = s->closeBox && xOf(lParam) >= r.right - box;
    switch (message) {
    case WM_LBUTTONDOWN: s->closePressed = inClose; ws().invalidate(h); return 0;
    case WM_LBUTTONUP:
        // The close box closes the window the bar belongs to.
        if (s->closePressed && inClose && w->parent) ws().postMessage(w->parent, WM_CLOSE, 0, 0);
        s->closePressed = false;
        ws().invalidate(h);
        return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

}  // namespace sim
