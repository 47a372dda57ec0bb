// The command bar across the top of the main window, with its close box.
#pragma once

#include "sim/windows/window_system.h"

namespace sim {

struct CommandBarState : ControlState {
    bool closeBox = false;
    bool closePressed = false;
};

ce::LRESULT commandBarProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

}  // namespace sim
