// Up-down controls and the number in their buddy.
#include "sim/windows/controls/up_down.h"

#include <algorithm>
#include <string>

#include "sim/windows/controls/control.h"

namespace sim {

using namespace ce;
using control::scaled;
using control::ws;
using control::yOf;

LRESULT upDownProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    UpDownState* s = stateOf<UpDownState>(w);
    auto low = [&] { return std::min(s->lower, s->upper); };
    auto high = [&] { return std::max(s->lower, s->upper); };
    auto readBuddy = [&] {
        if (!(w->style & UDS_SETBUDDYINT) || !ws().window(s->buddy)) return;
        const std::u16string& text = ws().window(s->buddy)->text;
        if (text.empty() || text.size() > 9) return;
        int value = 0;
        for (char16_t c : text) {
            if (c < u'0' || c > u'9') return;
            value = value * 10 + (c - u'0');
        }
        s->position = value;
    };
    auto setPosition = [&](int value) {
        if (value < low()) value = (w->style & UDS_WRAP) ? high() : low();
        if (value > high()) value = (w->style & UDS_WRAP) ? low() : high();
        s->position = value;
        if ((w->style & UDS_SETBUDDYINT) && ws().window(s->buddy)) {
            std::u16string text;
            for (char c : std::to_string(value)) text.push_back(static_cast<char16_t>(c));
            ws().sendMessage(s->buddy, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
        ws().invalidate(h);
    };
    switch (message) {
    case UDM_SETBUDDY: {
        HWND old = s->buddy;
        s->buddy = reinterpret_cast<HWND>(wParam);
        Window* buddy = ws().window(s->buddy);
        if (buddy && (w->style & (UDS_ALIGNRIGHT | UDS_ALIGNLEFT)) && buddy->parent == w->parent) {
            // Beside the buddy, as tall as it, which gives up the room.
            int width = scaled(UPDOWN_WIDTH);
            RECT b = buddy->rect;
            if (w->style & UDS_ALIGNRIGHT) {
                w->rect = {b.right - width, b.top, b.right, b.bottom};
                buddy->rect.right = std::max(b.left, b.right - width);
            } else {
                w->rect = {b.left, b.top, b.left + width, b.bottom};
                buddy->rect.left = std::min(b.right, b.left + width);
            }
            ws().invalidate(h);
        }
        return reinterpret_cast<LRESULT>(old);
    }
    case UDM_GETBUDDY: return reinterpret_cast<LRESULT>(s->buddy);
    case UDM_SETRANGE:
        s->upper = static_cast<std::int16_t>(LOWORD(static_cast<std::uintptr_t>(lParam)));
        s->lower = static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(lParam)));
        return 0;
    case UDM_GETRANGE: return MAKELPARAM(static_cast<WORD>(s->upper), static_cast<WORD>(s->lower));
    case UDM_SETPOS: {
        int old = s->position;
        setPosition(static_cast<std::int16_t>(LOWORD(static_cast<std::uintptr_t>(lParam))));
        return old;
    }
    case UDM_GETPOS: readBuddy(); return s->position;
    case WM_LBUTTONDOWN: {
        RECT r = clientRect(*w);
        bool up = yOf(lParam) < (r.bottom - r.top) / 2;
        s->pressed = up ? 1 : -1;
        readBuddy();
        int direction = s->upper >= s->lower ? 1 : -1;  // up goes toward the upper limit
        setPosition(s->position + (up ? direction : -direction));
        if (w->parent)
            ws().sendMessage(w->parent, WM_VSCROLL, MAKEWPARAM(4 /* SB_THUMBPOSITION */, static_cast<WORD>(s->position)),
                             reinterpret_cast<LPARAM>(h));
        return 0;
    }
    case WM_LBUTTONUP: s->pressed = 0; ws().invalidate(h); return 0;
    case WM_ENABLE: ws().invalidate(h); return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

}  // namespace sim
