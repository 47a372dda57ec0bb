// Static text, frames and icons.
#pragma once

#include "sim/windows/window_system.h"

namespace sim {

struct StaticState : ControlState {
    ce::UINT icon = 0;  // the MB_ICON* kind an SS_ICON static shows
};

ce::LRESULT staticProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

}  // namespace sim
