// Combo boxes: an edit field with a drop-down list of items.
#include "sim/windows/controls/combo_box.h"

#include <algorithm>
#include <string>

#include "sim/windows/controls/control.h"
#include "sim/windows/controls/edit.h"

namespace sim {

using namespace ce;
using control::notify;
using control::scaled;
using control::ws;
using control::xOf;
using control::yOf;
using control::editCommon;
using control::editInput;

int comboItemHeight() { return ws().baseUnitY() + 1; }

RECT dropListRect(const WindowSystem& system, HWND combo) {
    Window* w = system.window(combo);
    RECT r = system.screenRect(combo);
    auto* s = w ? dynamic_cast<ComboState*>(w->control.get()) : nullptr;
    int count = s ? static_cast<int>(s->items.size()) : 0;
    int listHeight = s ? s->listHeight : 0;
    int shown = std::max(1, std::min(count, std::max(1, listHeight / comboItemHeight())));
    return {r.left, r.bottom, r.right, r.bottom + shown * comboItemHeight() + 2};
}

LRESULT comboProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    ComboState* s = stateOf<ComboState>(w);
    auto count = static_cast<LRESULT>(s->items.size());
    auto select = [&](LRESULT index) {
        s->selection = static_cast<int>(index);
        w->text = index >= 0 ? s->items[static_cast<std::size_t>(index)] : std::u16string();
        s->selStart = 0;
        s->selEnd = w->text.size();
        s->firstChar = 0;
        ws().invalidate(h);
    };
    auto drop = [&](bool open) {
        if (s->dropped == open) return;
        s->dropped = open;
        if (open && s->selection >= 0) s->firstItem = s->selection;
        ws().invalidate(h);
        notify(h, open ? CBN_DROPDOWN : CBN_CLOSEUP);
    };
    LRESULT result = 0;
    if (message != WM_SETTEXT && editCommon(w, s, message, wParam, lParam, result)) return result;
    switch (message) {
    case WM_CREATE: {
        // The template's height is the open list's; the window itself is the field.
        int field = (12 * ws().baseUnitY() + 4) / 8;
        int total = w->rect.bottom - w->rect.top;
        s->listHeight = std::max(0, total - field);
        w->rect.bottom = w->rect.top + field;
        return 0;
    }
    case WM_GETDLGCODE: return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case CB_ADDSTRING:
        if (!lParam) return CB_ERR;
        s->items.emplace_back(reinterpret_cast<LPCWSTR>(lParam));
        ws().invalidate(h);
        return count;
    case CB_DELETESTRING:
        if (static_cast<LRESULT>(wParam) >= count) return CB_ERR;
        s->items.erase(s->items.begin() + static_cast<std::ptrdiff_t>(wParam));
        if (s->selection == static_cast<int>(wParam)) s->selection = -1;
        else if (s->selection > static_cast<int>(wParam)) --s->selection;
        return count - 1;
    case CB_RESETCONTENT: s->items.clear(); s->selection = -1; ws().invalidate(h); return 0;
    case CB_GETCOUNT: return count;
    case CB_GETCURSEL: return s->selection;
    case CB_SETCURSEL: {
        auto index = static_cast<LRESULT>(static_cast<LONG_PTR>(wParam));
        if (index < 0 || index >= count) {
            select(-1);
            return CB_ERR;
        }
        select(index);
        return index;
    }
    case CB_GETLBTEXTLEN:
        return static_cast<LRESULT>(wParam) < count ? static_cast<LRESULT>(s->items[wParam].size()) : CB_ERR;
    case CB_GETLBTEXT: {
        if (static_cast<LRESULT>(wParam) >= count || !lParam) return CB_ERR;
        const std::u16string& item = s->items[wParam];
        std::copy(item.begin(), item.end(), reinterpret_cast<WCHAR*>(lParam));
        reinterpret_cast<WCHAR*>(lParam)[item.size()] = 0;
        return static_cast<LRESULT>(item.size());
    }
    case CB_SHOWDROPDOWN: drop(wParam != 0); return TRUE;
    case CB_GETDROPPEDSTATE: return s->dropped;
    case WM_SETTEXT:
        editCommon(w, s, message, wParam, lParam, result);
        return result;
    case WM_LBUTTONDOWN: {
        int x = xOf(lParam), y = yOf(lParam);
        RECT r = clientRect(*w);
        if (s->dropped && y >= r.bottom) {
            int item = s->firstItem + (y - r.bottom - 1) / comboItemHeight();
            if (item >= 0 && item < count) {
                select(item);
                notify(h, CBN_SELCHANGE);
                drop(false);
            } else {
                drop(false);
            }
            return 0;
        }
        ws().setFocus(h);
        if (x >= r.right - scaled(14)) {
            drop(!s->dropped);
        } else {
            drop(false);
            editInput(w, s, message, wParam, lParam);
        }
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_DOWN || wParam == VK_UP) {
            LRESULT next = s->selection + (wParam == VK_DOWN ? 1 : -1);
            if (s->selection < 0) next = 0;
            if (next >= 0 && next < count && next != s->selection) {
                select(next);
                notify(h, CBN_SELCHANGE);
            }
            return 0;
        }
        if ((wParam == VK_RETURN || wParam == VK_ESCAPE) && s->dropped) {
            drop(false);
            return 0;
        }
        editInput(w, s, message, wParam, lParam);
        return 0;
    case WM_CHAR:
    case EM_SETSEL: editInput(w, s, message, wParam, lParam); return 0;
    case WM_SETFOCUS:
        ws().invalidate(h);
        notify(h, CBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        drop(false);
        ws().invalidate(h);
        notify(h, CBN_KILLFOCUS);
        return 0;
    case WM_ENABLE:
        if (!wParam) drop(false);
        ws().invalidate(h);
        return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

}  // namespace sim
