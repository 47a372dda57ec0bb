#include "ui/window.h"

#include "platform/windows.h"

namespace quorvel::ui {

ce::LRESULT Window::handleMessage(ce::HWND, ce::UINT message, ce::WPARAM, ce::LPARAM) {
    if (message != ce::WM_DESTROY) return 0;
    ce::PostQuitMessage(0);
    return 1;
}

ce::LRESULT windowProcedure(ce::HWND window, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam) {
    Window* object = nullptr;
    if (message == ce::WM_CREATE) {
        const auto* create = reinterpret_cast<const ce::CREATESTRUCTW*>(lParam);
        object = static_cast<Window*>(create->lpCreateParams);
        ce::SetWindowLongW(window, 0, reinterpret_cast<ce::LONG_PTR>(object));
    } else {
        object = reinterpret_cast<Window*>(ce::GetWindowLongW(window, 0));
    }
    if (object && object->handleMessage(window, message, wParam, lParam)) return 0;
    return ce::DefWindowProcW(window, message, wParam, lParam);
}

ce::BOOL dialogProcedure(ce::HWND dialog, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam) {
    Window* object = nullptr;
    if (message == ce::WM_INITDIALOG) {
        object = reinterpret_cast<Window*>(lParam);
        ce::SetWindowLongW(dialog, ce::DWL_USER, lParam);
    } else {
        object = reinterpret_cast<Window*>(ce::GetWindowLongW(dialog, ce::DWL_USER));
    }
    return object ? static_cast<ce::BOOL>(object->handleMessage(dialog, message, wParam, lParam)) : 0;
}

}  // namespace quorvel::ui
