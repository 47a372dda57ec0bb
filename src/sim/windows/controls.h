// The built-in window classes: their state, kept beside each window, and their
// window procedures.
#pragma once

#include <string>
#include <vector>

#include "sim/windows/window_system.h"

namespace sim {

// Class names as the system asks for them.
inline constexpr char16_t BUTTON_CLASS[] = u"BUTTON";
inline constexpr char16_t EDIT_CLASS[] = u"EDIT";
inline constexpr char16_t STATIC_CLASS[] = u"STATIC";
inline constexpr char16_t COMBOBOX_CLASS[] = u"COMBOBOX";
inline constexpr char16_t PROGRESS_CLASS[] = u"msctls_progress32";
inline constexpr char16_t TAB_CLASS[] = u"SysTabControl32";
inline constexpr char16_t UPDOWN_CLASS[] = u"msctls_updown32";
inline constexpr char16_t COMMANDBAR_CLASS[] = u"CommandBar";
inline constexpr char16_t DIALOG_CLASS[] = u"#32770";

struct ButtonState : ControlState {
    ce::WPARAM check = 0;
    bool pushed = false;
};

struct EditState : ControlState {
    std::size_t selStart = 0, selEnd = 0;  // selEnd is the caret
    std::size_t firstChar = 0;             // first character shown, single line
    int firstLine = 0;                     // first line shown, multi-line
    std::size_t limit = 30000;
    bool softBreaks = false;               // EM_FMTLINES
};

struct ComboState : EditState {
    std::vector<std::u16string> items;
    int selection = -1;
    bool dropped = false;
    int firstItem = 0;
};

struct ProgressState : ControlState {
    int low = 0, high = 100, position = 0, step = 10;
};

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

struct UpDownState : ControlState {
    int lower = 0, upper = 100, position = 0;
    ce::HWND buddy = nullptr;
    int pressed = 0;  // +1 up arrow held, -1 down arrow held
};

struct CommandBarState : ControlState {
    bool closeBox = false;
    bool closePressed = false;
};

struct MessageBoxState : ControlState {
    ce::UINT type = 0;
};

// The window system the procedures act on (the handheld's).
WindowSystem& windowSystem();

// Procedures of the built-in classes.
ce::LRESULT buttonProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);
ce::LRESULT editProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);
ce::LRESULT staticProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);
ce::LRESULT comboProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);
ce::LRESULT progressProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);
ce::LRESULT tabProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);
ce::LRESULT upDownProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);
ce::LRESULT commandBarProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);
ce::LRESULT dialogProcedure(ce::HWND, ce::UINT, ce::WPARAM, ce::LPARAM);

// State of a built-in window of that kind, made on first use; null for other classes.
template <class T>
T* stateOf(Window* w) {
    if (!w) return nullptr;
    if (!w->control) w->control = std::make_unique<T>();
    return dynamic_cast<T*>(w->control.get());
}

// The tab strip's geometry, shared by hit-testing, TCM_ADJUSTRECT and painting:
// the tabs stand in a column on the left, each one image tall.
struct TabGeometry {
    int tabWidth;
    int tabHeight;
};
TabGeometry tabGeometry(const Window& tab);
// Up-down controls are this wide by default.
constexpr int UPDOWN_WIDTH = 16;

// Text lines of an edit (split at CR LF, LF or CR).
std::vector<std::u16string> editLines(const std::u16string& text);

}  // namespace sim

namespace sim {

// Where a window's client area starts inside its rectangle (borders, caption).
ce::POINT clientOrigin(const Window& w);
ce::RECT clientRect(const Window& w);  // in client coordinates
int captionHeight();
// An open drop-down list, in screen pixels.
ce::RECT dropListRect(const WindowSystem& system, ce::HWND combo);
int comboItemHeight();

}  // namespace sim
