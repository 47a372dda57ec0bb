// Combo boxes: an edit field with a drop-down list of items.
#include "sim/windows/controls/combo_box.h"

#include <algorithm>
#include <string>

#include "sim/windows/controls/control.h"
#include "sim/windows/controls/edit.h"
#include "sim/windows/scroll_bar.h"

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

namespace {

int shownItems(const ComboState* s) {
    int count = s ? static_cast<int>(s->items.size()) : 0;
    int listHeight = s ? s->listHeight : 0;
    return std::max(1, std::min(count, std::max(1, listHeight / comboItemHeight())));
}

ScrollRange rangeOf(const ComboState* s) {
    return {static_cast<int>(s->items.size()), shownItems(s), s->firstItem};
}

}  // namespace

RECT dropListRect(const WindowSystem& system, HWND combo) {
    Window* w = system.window(combo);
    RECT r = system.screenRect(combo);
    auto* s = w ? dynamic_cast<ComboState*>(w->control.get()) : nullptr;
    return {r.left, r.bottom, r.right, r.bottom + shownItems(s) * comboItemHeight() + 2};
}

DropList dropList(const WindowSystem& system, HWND combo) {
    DropList d;
    d.list = dropListRect(system, combo);
    Window* w = system.window(combo);
    auto* s = w ? dynamic_cast<ComboState*>(w->control.get()) : nullptr;
    d.items = {d.list.left + 1, d.list.top + 1, d.list.right - 1, d.list.bottom - 1};
    if (!s) return d;
    d.range = rangeOf(s);
    d.scrolls = d.range.total > d.range.page;
    if (d.scrolls) {
        int width = std::min(control::scaled(13), (d.items.right - d.items.left) / 2);
        d.bar = {d.items.right - width, d.items.top, d.items.right, d.items.bottom};
        d.items.right = d.bar.left;
    }
    return d;
}

LRESULT comboProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    ComboState* s = stateOf<ComboState>(w);
    auto count = static_cast<LRESULT>(s->items.size());
    auto invalidateList = [&] { ws().invalidate(h); };
    auto scrollTo = [&](int first) {
        first = rangeOf(s).clamp(first);
        if (first != s->firstItem) invalidateList();
        s->firstItem = first;
    };
    // The list scrolls the least that shows the item.
    auto reveal = [&](int index) {
        int shown = shownItems(s);
        int first = s->firstItem;
        if (index < first) first = index;
        if (index >= first + shown) first = index - shown + 1;
        scrollTo(first);
    };
    auto select = [&](LRESULT index) {
        s->selection = static_cast<int>(index);
        w->text = index >= 0 ? s->items[static_cast<std::size_t>(index)] : std::u16string();
        s->selStart = 0;
        s->selEnd = w->text.size();
        s->firstChar = 0;
        if (index >= 0) reveal(static_cast<int>(index));
        ws().invalidate(h);
    };
    auto drop = [&](bool open) {
        if (s->dropped == open) return;
        s->dropped = open;
        s->dragOffset = -1;
        // It opens with the selection at the top, or as near it as the items allow.
        if (open) scrollTo(s->selection >= 0 ? s->selection : s->firstItem);
        ws().invalidate(h);
        notify(h, open ? CBN_DROPDOWN : CBN_CLOSEUP);
    };
    // Moves the selection by the keyboard, as a change the parent hears of.
    auto moveTo = [&](LRESULT index) {
        if (count == 0) return;
        index = std::clamp<LRESULT>(index, 0, count - 1);
        if (index == s->selection) return;
        select(index);
        notify(h, CBN_SELCHANGE);
    };
    // A point of the combo box's client area in screen pixels, for the list.
    auto onScreen = [&](int x, int y) {
        RECT r = ws().screenRect(h);
        POINT o = clientOrigin(*w);
        return POINT{x + r.left + o.x, y + r.top + o.y};
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
        scrollTo(s->firstItem);
        ws().invalidate(h);
        return count - 1;
    case CB_RESETCONTENT: s->items.clear(); s->selection = -1; s->firstItem = 0; ws().invalidate(h); return 0;
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
            DropList d = dropList(ws(), h);
            POINT p = onScreen(x, y);
            if (d.scrolls) {
                ScrollBar bar(d.bar, d.bar.right - d.bar.left, d.range);
                ScrollPart part = bar.partAt(p.x, p.y);
                if (part == ScrollPart::Thumb) {
                    s->dragOffset = p.y - bar.thumb.top;
                    return 0;
                }
                if (part != ScrollPart::None) {
                    WORD request = part == ScrollPart::LineUp     ? SB_LINEUP
                                   : part == ScrollPart::LineDown ? SB_LINEDOWN
                                   : part == ScrollPart::PageUp   ? SB_PAGEUP
                                                                  : SB_PAGEDOWN;
                    scrollTo(scrolled(d.range, request));
                    return 0;
                }
            }
            int item = p.y >= d.items.top ? s->firstItem + (p.y - d.items.top) / comboItemHeight() : -1;
            if (p.x >= d.items.left && p.x < d.items.right && item >= 0 && item < count &&
                item < s->firstItem + d.range.page) {
                select(item);
                notify(h, CBN_SELCHANGE);
            }
            drop(false);
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
    case WM_MOUSEMOVE:
        if (s->dropped && s->dragOffset >= 0) {
            DropList d = dropList(ws(), h);
            ScrollBar bar(d.bar, d.bar.right - d.bar.left, d.range);
            scrollTo(bar.positionForThumbTop(onScreen(xOf(lParam), yOf(lParam)).y - s->dragOffset, d.range));
        }
        return 0;
    case WM_LBUTTONUP: s->dragOffset = -1; return 0;
    case WM_MOUSEWHEEL:
        if (!s->dropped) return ws().defWindowProc(h, message, wParam, lParam);
        // Three items a notch, as the wheel scrolls lists.
        scrollTo(s->firstItem - 3 * static_cast<std::int16_t>(HIWORD(wParam)) / WHEEL_DELTA);
        return 0;
    case WM_KEYDOWN: {
        int page = std::max(1, shownItems(s) - 1);
        bool listKeys = s->dropped || (w->style & 0x3) == CBS_DROPDOWNLIST;
        switch (static_cast<int>(wParam)) {
        case VK_DOWN: moveTo(s->selection < 0 ? 0 : s->selection + 1); return 0;
        case VK_UP: moveTo(s->selection < 0 ? 0 : s->selection - 1); return 0;
        case VK_NEXT: moveTo(s->selection < 0 ? 0 : s->selection + page); return 0;
        case VK_PRIOR: moveTo(s->selection < 0 ? 0 : s->selection - page); return 0;
        case VK_HOME:
            if (!listKeys) break;
            moveTo(0);
            return 0;
        case VK_END:
            if (!listKeys) break;
            moveTo(count - 1);
            return 0;
        case VK_RETURN:
        case VK_ESCAPE:
            if (!s->dropped) break;
            drop(false);
            return 0;
        default: break;
        }
        editInput(w, s, message, wParam, lParam);
        return 0;
    }
    case WM_CHAR:
    case EM_SETSEL: editInput(w, s, message, wParam, lParam); return 0;
    case WM_SETFOCUS:
        ws().invalidate(h);
        notify(h, CBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        // An open list closes without a choice.
        if (s->dropped) notify(h, CBN_SELENDCANCEL);
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
