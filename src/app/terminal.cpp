// The terminal main window.
#include "app/terminal.h"

#include <iostream>
#include <string>

#include "platform/coredll.h"
#include "sim/utf.h"

namespace quorvel::app {

namespace {
constexpr int STAGES = 11;
}

void TerminalConsolePage::appendLog(const ce::WCHAR* text, bool) {
    appendBytes(sim::toUtf8(std::u16string_view(text, ce::wcslen(text))));
}

void TerminalConsolePage::appendBytes(const std::string& bytes) {
    log_ += bytes;
    pending_ += bytes;
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        std::string line = pending_.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pending_.erase(0, end + 1);
        show(line);
    }
}

void TerminalConsolePage::show(const std::string& line) {
    bool progress = line.rfind("[progress] ", 0) == 0;
    switch (view_) {
    case LogView::Full: out_ << line << "\n" << std::flush; break;
    case LogView::Progress:
        if (progress) out_ << line << "\n" << std::flush;
        break;
    case LogView::Bar:
        if (progress) {
            int stage = std::atoi(line.c_str() + 11) + 1;
            std::string bar(static_cast<std::size_t>(stage), '#');
            bar.resize(STAGES, '.');
            out_ << "\rbooting [" << bar << "] " << stage << "/" << STAGES << std::flush;
            barShown_ = true;
        }
        break;
    case LogView::Quiet: break;
    }
}

void TerminalConsolePage::endBar() {
    if (barShown_) out_ << "\n" << std::flush;
    barShown_ = false;
}

sim::MessageBoxes::Policy terminalMessageBoxes(std::istream& in, std::ostream& out, BoxManners manners) {
    return [&in, &out, manners](const sim::MessageBoxRecord& box) {
        std::uint32_t buttons = box.type & ce::MB_TYPEMASK;
        bool question = buttons == ce::MB_YESNO || buttons == 3;
        std::string caption = sim::toUtf8(box.caption);
        bool failure = caption == "BOOT FAILED";
        if (manners.quiet && !failure && (!question || manners.yes || manners.dryRun))
            return question ? ce::IDYES : ce::IDOK;
        out << "\n[" << caption << "] " << sim::toUtf8(box.text);
        if (!question) {
            if (!box.text.empty() && box.text.back() != u'\n') out << "\n";
            out << std::flush;
            return ce::IDOK;
        }
        if (manners.dryRun) {
            out << " (yes: a dry run stops before the jump)\n" << std::flush;
            return ce::IDYES;
        }
        if (manners.yes) {
            out << " (yes)\n" << std::flush;
            return ce::IDYES;
        }
        out << " [y/N] " << std::flush;
        if (!manners.canAsk) {
            out << "no (nobody to answer on the terminal; --yes answers yes)\n" << std::flush;
            return ce::IDNO;
        }
        std::string answer;
        if (!std::getline(in, answer)) {
            out << "\n";
            return ce::IDNO;
        }
        return (answer == "y" || answer == "Y" || answer == "yes") ? ce::IDYES : ce::IDNO;
    };
}

}  // namespace quorvel::app
