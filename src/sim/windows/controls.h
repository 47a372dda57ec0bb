// The built-in window classes: their names, the state each keeps beside its window,
// and their window procedures (one control to a file under controls/).
#pragma once

#include <memory>

#include "sim/windows/controls/button.h"
#include "sim/windows/controls/combo_box.h"
#include "sim/windows/controls/command_bar.h"
#include "sim/windows/controls/dialog.h"
#include "sim/windows/controls/edit.h"
#include "sim/windows/controls/progress.h"
#include "sim/windows/controls/static.h"
#include "sim/windows/controls/tab.h"
#include "sim/windows/controls/up_down.h"
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

// The window system the procedures act on (the handheld's).
WindowSystem& windowSystem();

// State of a built-in window of that kind, made on first use; null for other classes.
template <class T>
T* stateOf(Window* w) {
    if (!w) return nullptr;
    if (!w->control) w->control = std::make_unique<T>();
    return dynamic_cast<T*>(w->control.get());
}

// Where a window's client area starts inside its rectangle (borders, caption).
ce::POINT clientOrigin(const Window& w);
ce::RECT clientRect(const Window& w);  // in client coordinates
int captionHeight();

}  // namespace sim
