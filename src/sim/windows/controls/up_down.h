// Up-down controls and the number in their buddy.
#pragma once

#include "sim/windows/window_system.h"

namespace sim {

struct UpDownState : ControlState {
    int lower = 0, upper = 100, position = 0;
    ce::HWND buddy = nullptr;
    int pressed = 0;  // +1 up arrow held, -1 down arrow held
};

ce::LRESULT upDownProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

// Up-down controls are this wide by default.
constexpr int UPDOWN_WIDTH = 16;

}  // namespace sim
