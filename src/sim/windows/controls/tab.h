// Tab controls, their tabs standing in a column on the left.
#pragma once

#include <string>
#include <vector>

#include "sim/windows/window_system.h"

namespace sim {

struct TabState : ControlState {
    struct Item {
        std::u16string text;
        int image = -1;
        ce::LPARAM param = 0;
    };
    std::vector<Item> items;
    int selection = -1;
    ce::HIMAGELIST images = nullptr;
    int padX = 6, padY = 3;
};

ce::LRESULT tabProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

// The tab strip's geometry, shared by hit-testing, TCM_ADJUSTRECT and painting:
// the tabs stand in a column on the left, each one image tall.
struct TabGeometry {
    int tabWidth;
    int tabHeight;
};
TabGeometry tabGeometry(const Window& tab);

}  // namespace sim
