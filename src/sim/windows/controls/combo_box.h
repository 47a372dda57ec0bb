// Combo boxes: an edit field with a drop-down list of items.
#pragma once

#include <string>
#include <vector>

#include "sim/windows/controls/edit.h"
#include "sim/windows/scroll_bar.h"

namespace sim {

struct ComboState : EditState {
    std::vector<std::u16string> items;
    int selection = -1;
    bool dropped = false;
    int firstItem = 0;
    int listHeight = 0;  // the height the template gave, less the field
    int dragOffset = -1;  // where in the list's thumb a drag took hold
};

ce::LRESULT comboProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

// An open drop-down list, in screen pixels.
ce::RECT dropListRect(const WindowSystem& system, ce::HWND combo);
// Its parts: the items' box inside the border and, when they do not all fit, the
// scroll bar beside them; all in screen pixels.
struct DropList {
    ce::RECT list{}, items{}, bar{};
    bool scrolls = false;
    ScrollRange range;
};
DropList dropList(const WindowSystem& system, ce::HWND combo);
int comboItemHeight();

}  // namespace sim
