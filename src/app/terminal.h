// The terminal as the main window: the log shown as the Console page would show it,
// message boxes printed with their caption and answered on the terminal (or YES).
#pragma once

#include <iosfwd>
#include <string>

#include "platform/types.h"
#include "sim/handheld.h"
#include "ui/main_window.h"
#include "ui/tab_page.h"

namespace quorvel::app {

class TerminalConsolePage : public ConsolePage {
public:
    explicit TerminalConsolePage(std::ostream& out) : out_(out) {}
    void appendLog(const ce::WCHAR* text, bool toFileOnly) override;
    const std::string& log() const { return log_; }

private:
    std::ostream& out_;
    std::string log_;
};

class TerminalMainWindow : public MainWindow {
public:
    ce::HWND handle() const override;
    // The "[progress] N" lines of the log stand for the bar on a terminal.
    void progress() override {}
    void progressDone() override {}
};

// Prints each box; questions are answered YES when `yes`, otherwise asked on the
// terminal (no answer, as at the end of input, is NO).
sim::MessageBoxes::Policy terminalMessageBoxes(std::istream& in, std::ostream& out, bool yes);

}  // namespace quorvel::app
