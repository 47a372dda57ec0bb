// The dialog class, and the state of the dialogs that are message boxes.
#pragma once

#include "sim/windows/window_system.h"

namespace sim {

struct MessageBoxState : ControlState {
    ce::UINT type = 0;
};

ce::LRESULT dialogProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

}  // namespace sim
