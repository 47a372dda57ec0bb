// Single-line and multi-line edits.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sim/windows/scroll_bar.h"
#include "sim/windows/window_system.h"

namespace sim {

struct EditState : ControlState {
    std::size_t selStart = 0, selEnd = 0;  // selEnd is the caret
    std::size_t firstChar = 0;             // first character shown, single line
    int firstLine = 0;                     // first line shown, multi-line
    std::size_t limit = 30000;
    bool softBreaks = false;               // EM_FMTLINES
    int dragOffset = -1;                   // where in the scroll bar's thumb a drag took hold
};

ce::LRESULT editProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

// Text lines of an edit (split at CR LF, LF or CR).
std::vector<std::u16string> editLines(const std::u16string& text);
// A multi-line edit's own scroll bar, in client pixels; false when it has none.
bool editScrollBar(const Window& w, ce::RECT& bar);
// Its lines, how many show, and the first shown.
ScrollRange editLineRange(const Window& w, const EditState& s);

namespace control {
// Typing, Backspace, the caret keys and taps, shared by edits and the field of a
// combo box; true when the message was one of them.
bool editInput(Window* w, EditState* s, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam);
// The selection and text messages both answer alike; true when handled, with `result`.
bool editCommon(Window* w, EditState* s, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam, ce::LRESULT& result);
}  // namespace control

}  // namespace sim
