// Message boxes: a modal box of the window system while the program has windows on
// the screen, otherwise the scripted answers and the answering policy.
#include <string>

#include "platform/coredll.h"
#include "sim/handheld.h"
#include "sim/windows/window_system.h"

namespace ce {

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    sim::Handheld& device = sim::Handheld::current();
    std::u16string body = text ? std::u16string(text) : std::u16string();
    std::u16string title = caption ? std::u16string(caption) : std::u16string(u"Error");
    // A program with windows on the screen gets a real modal box; without a
    // screen the scripted answers and the policy answer.
    sim::WindowSystem* windows = device.windowsIfAny();
    if (windows && windows->hasWindows()) {
        int answer = windows->messageBox(owner, body, title, type);
        device.messageBoxes().record({reinterpret_cast<std::uintptr_t>(owner), body, title, type, answer});
        return answer;
    }
    return device.messageBoxes().show(reinterpret_cast<std::uintptr_t>(owner), body, title, type);
}

}  // namespace ce
