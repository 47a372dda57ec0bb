// Log capture for tests.
#include "support/log_capture.h"

#include <algorithm>

#include "boot/boot_menu.h"
#include "sim/utf.h"

namespace testing_support {

LogCapture::LogCapture() {
    quorvel::BootMenu& menu = quorvel::theBootMenu();
    previous_ = menu.consoleTab;
    menu.consoleTab = this;
}

LogCapture::~LogCapture() {
    quorvel::BootMenu& menu = quorvel::theBootMenu();
    if (menu.consoleTab == this) menu.consoleTab = previous_;
}

void LogCapture::appendLog(const ce::WCHAR* text, bool) { entries_.emplace_back(text ? text : u""); }

std::u16string LogCapture::text() const {
    std::u16string all;
    for (const std::u16string& entry : entries_) all += entry;
    return all;
}

std::string LogCapture::utf8() const { return sim::toUtf8(text()); }

bool LogCapture::contains(const std::u16string& line) const {
    return std::find(entries_.begin(), entries_.end(), line) != entries_.end();
}

}  // namespace testing_support
