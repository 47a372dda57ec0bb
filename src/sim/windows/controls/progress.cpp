// Progress bars.
#include "sim/windows/controls/progress.h"

#include <algorithm>

#include "sim/windows/controls/control.h"

namespace sim {

using namespace ce;
using control::ws;

LRESULT progressProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    ProgressState* s = stateOf<ProgressState>(w);
    auto clamp = [&](int v) { return std::max(s->low, std::min(s->high, v)); };
    int old = s->position;
    switch (message) {
    case PBM_SETRANGE: {
        LRESULT previous = MAKELPARAM(static_cast<WORD>(s->low), static_cast<WORD>(s->high));
        s->low = LOWORD(static_cast<std::uintptr_t>(lParam));
        s->high = HIWORD(static_cast<std::uintptr_t>(lParam));
        s->position = clamp(s->position);
        ws().invalidate(h);
        return previous;
    }
    case PBM_SETPOS: s->position = clamp(static_cast<int>(wParam)); ws().invalidate(h); return old;
    case PBM_DELTAPOS: s->position = clamp(s->position + static_cast<int>(wParam)); ws().invalidate(h); return old;
    case PBM_SETSTEP: {
        int previous = s->step;
        s->step = static_cast<int>(static_cast<std::int16_t>(wParam));
        return previous;
    }
    case PBM_STEPIT: {
        int next = s->position + s->step;
        // Past the end the bar starts over.
        if (next > s->high && s->high > s->low) next = s->low + (next - s->low) % (s->high - s->low);
        s->position = clamp(next);
        ws().invalidate(h);
        return old;
    }
    case PBM_GETPOS: return s->position;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

}  // namespace sim
