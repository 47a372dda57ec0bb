// Static text, frames and icons.
#include "sim/windows/controls/static.h"

#include "sim/windows/controls/control.h"

namespace sim {

using namespace ce;
using control::ws;

LRESULT staticProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETDLGCODE) return DLGC_STATIC;
    if (message == WM_SETTEXT) ws().invalidate(h);
    return ws().defWindowProc(h, message, wParam, lParam);
}

}  // namespace sim
