// The terminal main window.
#include "app/terminal.h"

#include <iostream>
#include <string>

#include "platform/coredll.h"
#include "sim/utf.h"

namespace quorvel::app {

void TerminalConsolePage::appendLog(const ce::WCHAR* text, bool) {
    std::string bytes = sim::toUtf8(std::u16string_view(text, ce::wcslen(text)));
    log_ += bytes;
    out_ << bytes << std::flush;
}

ce::HWND TerminalMainWindow::handle() const {
    // Any non-null token: the boxes it owns go to the terminal.
    return reinterpret_cast<ce::HWND>(const_cast<TerminalMainWindow*>(this));
}

sim::MessageBoxes::Policy terminalMessageBoxes(std::istream& in, std::ostream& out, bool yes) {
    return [&in, &out, yes](const sim::MessageBoxRecord& box) {
        std::uint32_t buttons = box.type & ce::MB_TYPEMASK;
        bool question = buttons == ce::MB_YESNO || buttons == 3;
        out << "[" << sim::toUtf8(box.caption) << "] " << sim::toUtf8(box.text);
        if (!question) {
            out << "\n" << std::flush;
            return ce::IDOK;
        }
        if (yes) {
            out << " (yes)\n" << std::flush;
            return ce::IDYES;
        }
        out << " [y/N] " << std::flush;
        std::string answer;
        if (!std::getline(in, answer)) {
            out << "\n";
            return ce::IDNO;
        }
        return (answer == "y" || answer == "Y" || answer == "yes") ? ce::IDYES : ce::IDNO;
    };
}

}  // namespace quorvel::app
