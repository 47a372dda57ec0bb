// Push buttons, check boxes, radio buttons and group boxes.
#pragma once

#include "sim/windows/window_system.h"

namespace sim {

struct ButtonState : ControlState {
    ce::WPARAM check = 0;
    bool pushed = false;
};

ce::LRESULT buttonProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

}  // namespace sim
