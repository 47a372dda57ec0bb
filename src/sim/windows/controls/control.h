// What the built-in controls' procedures share: the window system they act on,
// the point of a mouse message, notifications to the parent, pixel scaling.
#pragma once

#include <cstdint>

#include "sim/windows/controls.h"

namespace sim::control {

inline WindowSystem& ws() { return windowSystem(); }

inline int xOf(ce::LPARAM l) { return static_cast<std::int16_t>(ce::LOWORD(static_cast<std::uintptr_t>(l))); }
inline int yOf(ce::LPARAM l) { return static_cast<std::int16_t>(ce::HIWORD(static_cast<std::uintptr_t>(l))); }

// WM_COMMAND with the control's id and `code` to its parent.
void notify(ce::HWND h, ce::WORD code);
// WM_NOTIFY with a bare header to the parent; the parent's answer.
ce::LRESULT notifyHeader(ce::HWND h, ce::UINT code);
// Pixels at 96 dots per inch to the screen's.
int scaled(int v);

}  // namespace sim::control
