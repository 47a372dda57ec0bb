// Progress bars.
#pragma once

#include "sim/windows/window_system.h"

namespace sim {

struct ProgressState : ControlState {
    int low = 0, high = 100, position = 0, step = 10;
};

ce::LRESULT progressProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

}  // namespace sim
