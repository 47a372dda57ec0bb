// Push buttons, check boxes, radio buttons and group boxes.
#include "sim/windows/controls/button.h"

#include <algorithm>
#include <vector>

#include "sim/windows/controls/control.h"

namespace sim {

using namespace ce;
using control::notify;
using control::ws;
using control::xOf;
using control::yOf;

namespace {

DWORD buttonType(const Window* w) { return w->style & BS_TYPEMASK; }

void uncheckGroup(HWND button) {
    Window* w = ws().window(button);
    Window* parent = ws().window(w->parent);
    if (!parent) return;
    const std::vector<HWND>& items = parent->children;
    std::size_t pos = std::find(items.begin(), items.end(), button) - items.begin();
    std::size_t start = pos;
    while (start > 0 && !(ws().window(items[start])->style & WS_GROUP)) --start;
    std::size_t end = pos + 1;
    while (end < items.size() && !(ws().window(items[end])->style & WS_GROUP)) ++end;
    for (std::size_t i = start; i < end; ++i) {
        Window* other = ws().window(items[i]);
        if (i != pos && other->className == BUTTON_CLASS && buttonType(other) == BS_AUTORADIOBUTTON) {
            stateOf<ButtonState>(other)->check = BST_UNCHECKED;
            ws().invalidate(items[i]);
        }
    }
}

void click(HWND h) {
    Window* w = ws().window(h);
    ButtonState* s = stateOf<ButtonState>(w);
    switch (buttonType(w)) {
    case BS_AUTOCHECKBOX: s->check = s->check ? BST_UNCHECKED : BST_CHECKED; break;
    case BS_AUTO3STATE: s->check = (s->check + 1) % 3; break;
    case BS_AUTORADIOBUTTON:
        s->check = BST_CHECKED;
        uncheckGroup(h);
        break;
    default: break;
    }
    ws().invalidate(h);
    notify(h, BN_CLICKED);
}

}  // namespace

LRESULT buttonProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    ButtonState* s = stateOf<ButtonState>(w);
    DWORD type = buttonType(w);
    switch (message) {
    case WM_GETDLGCODE:
        if (type == BS_GROUPBOX) return DLGC_STATIC;
        if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) return DLGC_BUTTON | DLGC_RADIOBUTTON;
        if (type == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        if (type == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        return DLGC_BUTTON;
    case BM_GETCHECK: return static_cast<LRESULT>(s->check);
    case BM_SETCHECK:
        if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON && type != BS_GROUPBOX) s->check = wParam;
        ws().invalidate(h);
        return 0;
    case BM_GETSTATE: return static_cast<LRESULT>(s->check | (s->pushed ? 4 : 0) | (ws().focus() == h ? 8 : 0));
    case BM_SETSTATE: s->pushed = wParam != 0; ws().invalidate(h); return 0;
    case BM_CLICK:
        // As a tap would: the button takes the focus, then is clicked.
        if (type != BS_GROUPBOX) ws().setFocus(h);
        if (ws().window(h)) click(h);
        return 0;
    case WM_LBUTTONDOWN:
        if (type == BS_GROUPBOX) return 0;
        s->pushed = true;
        ws().setFocus(h);
        ws().invalidate(h);
        return 0;
    case WM_LBUTTONUP: {
        if (!s->pushed) return 0;
        s->pushed = false;
        RECT r = clientRect(*w);
        int x = xOf(lParam), y = yOf(lParam);
        ws().invalidate(h);
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) click(h);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_SPACE && type != BS_GROUPBOX) {
            s->pushed = true;
            ws().invalidate(h);
        }
        return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE && s->pushed) {
            s->pushed = false;
            click(h);
        }
        return 0;
    case WM_SETFOCUS:
        ws().invalidate(h);
        // The focus alone checks nothing: the dialog manager's arrow keys check.
        if (w->style & BS_NOTIFY) notify(h, BN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        s->pushed = false;
        ws().invalidate(h);
        if (w->style & BS_NOTIFY) notify(h, BN_KILLFOCUS);
        return 0;
    case WM_ENABLE: ws().invalidate(h); return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

}  // namespace sim
