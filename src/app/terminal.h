// The terminal in place of the window: the log shown as the Console page would show
// it (or only its progress, as a bar), message boxes printed with their caption and
// answered on the terminal (or YES, or NO when nobody can answer).
#pragma once

#include <iosfwd>
#include <string>

#include "boot/boot_window.h"
#include "platform/types.h"
#include "sim/handheld.h"

namespace quorvel::app {

enum class LogView {
    Bar,       // a one-line bar of the boot stages (standard error is a terminal)
    Progress,  // only the "[progress] N" lines
    Full,      // every line of the log
    Quiet,     // nothing
};

// The boot log, shown on the terminal as the Console page would show it.
class TerminalConsolePage : public BootLog {
public:
    TerminalConsolePage(std::ostream& out, LogView view) : out_(out), view_(view) {}
    void appendLog(const ce::WCHAR* text, bool toWindow) override;
    // Text that belongs to the log but did not come through the page (the UART
    // console's lines).
    void appendBytes(const std::string& bytes);
    const std::string& log() const { return log_; }
    // Ends the bar's line so that what follows starts on its own.
    void endBar();

private:
    void show(const std::string& line);
    std::ostream& out_;
    LogView view_;
    std::string log_;
    std::string pending_;  // a line not yet ended
    bool barShown_ = false;
};

struct BoxManners {
    bool yes = false;          // every question is answered YES
    bool canAsk = false;       // standard input is a terminal
    bool quiet = false;        // only failures are shown
    bool dryRun = false;       // nothing is lost and no jump is made: questions need no one
};

// Prints each box; questions are answered YES when `yes`, otherwise asked on the
// terminal; with nobody to ask (or no answer, as at the end of input) NO.
sim::MessageBoxes::Policy terminalMessageBoxes(std::istream& in, std::ostream& out, BoxManners manners);

}  // namespace quorvel::app
