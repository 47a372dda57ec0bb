// Tab controls, their tabs standing in a column on the left.
#include "sim/windows/controls/tab.h"

#include <algorithm>

#include "sim/windows/controls/control.h"

namespace sim {

using namespace ce;
using control::ws;
using control::xOf;
using control::yOf;
using control::notifyHeader;

TabGeometry tabGeometry(const Window& tab) {
    auto* s = dynamic_cast<TabState*>(tab.control.get());
    int imageW = 16, imageH = 16, padX = 6, padY = 3;
    if (s) {
        padX = s->padX;
        padY = s->padY;
        if (const ImageList* l = ws().imageList(s->images)) {
            imageW = l->width;
            imageH = l->height;
        }
    }
    return {imageW + 2 * padX + 4, imageH + 2 * padY + 4};
}

LRESULT tabProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    TabState* s = stateOf<TabState>(w);
    auto count = static_cast<int>(s->items.size());
    auto change = [&](int to) {
        if (to < 0 || to >= count || to == s->selection) return;
        if (notifyHeader(h, TCN_SELCHANGING)) return;  // the parent refused
        if (!ws().window(h)) return;
        s->selection = to;
        ws().invalidate(h);
        notifyHeader(h, TCN_SELCHANGE);
    };
    switch (message) {
    case TCM_INSERTITEMW: {
        auto* item = reinterpret_cast<const TCITEMW*>(lParam);
        if (!item) return -1;
        int at = std::min(static_cast<int>(wParam), count);
        TabState::Item entry;
        if ((item->mask & TCIF_TEXT) && item->pszText) entry.text = item->pszText;
        if (item->mask & TCIF_IMAGE) entry.image = item->iImage;
        if (item->mask & TCIF_PARAM) entry.param = item->lParam;
        s->items.insert(s->items.begin() + at, entry);
        if (s->selection < 0) s->selection = 0;
        else if (at <= s->selection && count > 0) ++s->selection;
        ws().invalidate(h);
        return at;
    }
    case TCM_GETITEMW:
    case TCM_SETITEMW: {
        auto* item = reinterpret_cast<TCITEMW*>(lParam);
        auto index = static_cast<int>(wParam);
        if (!item || index < 0 || index >= count) return FALSE;
        TabState::Item& entry = s->items[static_cast<std::size_t>(index)];
        if (message == TCM_SETITEMW) {
            if ((item->mask & TCIF_TEXT) && item->pszText) entry.text = item->pszText;
            if (item->mask & TCIF_IMAGE) entry.image = item->iImage;
            if (item->mask & TCIF_PARAM) entry.param = item->lParam;
            ws().invalidate(h);
            return TRUE;
        }
        if (item->mask & TCIF_IMAGE) item->iImage = entry.image;
        if (item->mask & TCIF_PARAM) item->lParam = entry.param;
        if ((item->mask & TCIF_TEXT) && item->pszText && item->cchTextMax > 0) {
            std::size_t n = std::min(entry.text.size(), static_cast<std::size_t>(item->cchTextMax - 1));
            std::copy(entry.text.begin(), entry.text.begin() + static_cast<std::ptrdiff_t>(n), item->pszText);
            item->pszText[n] = 0;
        }
        return TRUE;
    }
    case TCM_GETITEMCOUNT: return count;
    case TCM_GETCURSEL: return s->selection;
    case TCM_SETCURSEL: {
        int old = s->selection;
        auto index = static_cast<int>(wParam);
        if (index < 0 || index >= count) return -1;
        s->selection = index;
        ws().invalidate(h);
        return old;
    }
    case TCM_SETIMAGELIST: {
        HIMAGELIST old = s->images;
        s->images = reinterpret_cast<HIMAGELIST>(lParam);
        ws().invalidate(h);
        return reinterpret_cast<LRESULT>(old);
    }
    case TCM_SETPADDING:
        s->padX = LOWORD(static_cast<std::uintptr_t>(lParam));
        s->padY = HIWORD(static_cast<std::uintptr_t>(lParam));
        ws().invalidate(h);
        return 0;
    case TCM_ADJUSTRECT: {
        auto* r = reinterpret_cast<RECT*>(lParam);
        if (!r) return 0;
        int tabs = tabGeometry(*w).tabWidth;
        int sign = wParam ? -1 : 1;  // TRUE: display area to window rectangle
        r->left += sign * (tabs + 2);
        r->top += sign * 2;
        r->right -= sign * 2;
        r->bottom -= sign * 2;
        return 0;
    }
    case WM_LBUTTONDOWN: {
        TabGeometry g = tabGeometry(*w);
        int x = xOf(lParam), y = yOf(lParam);
        if ((w->style & 0x1000) /* TCS_FOCUSONBUTTONDOWN */) ws().setFocus(h);
        if (x >= 0 && x < g.tabWidth && y >= 0 && y / g.tabHeight < count) change(y / g.tabHeight);
        return 0;
    }
    case WM_KEYDOWN: {
        NMTCKEYDOWN key{};
        key.hdr = {h, static_cast<UINT>(w->id), TCN_KEYDOWN};
        key.wVKey = static_cast<WORD>(wParam);
        key.flags = static_cast<UINT>(lParam);
        // The parent may take the key (it then moves the focus); otherwise the
        // arrow keys move through the tabs.
        if (w->parent && ws().sendMessage(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&key)))
            return 0;
        bool vertical = (w->style & TCS_VERTICAL) != 0;
        if (wParam == static_cast<WPARAM>(vertical ? VK_DOWN : VK_RIGHT)) change(s->selection + 1);
        if (wParam == static_cast<WPARAM>(vertical ? VK_UP : VK_LEFT)) change(s->selection - 1);
        return 0;
    }
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE: ws().invalidate(h); return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

}  // namespace sim
