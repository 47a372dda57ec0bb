// Captures what the LCD console prints: the Console page, windowless, keeping every
// text appended to it, installed as the BootMenu's console tab while it lives.
// Declare it after the test's device: the BootMenu it reaches needs one.
#pragma once

#include <string>
#include <vector>

#include "ui/pages.h"

namespace testing_support {

class LogCapture : private quorvel::ui::WindowlessTabs, public quorvel::ui::ConsolePage {
public:
    LogCapture();
    ~LogCapture() override;
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void appendLog(const ce::WCHAR* text, bool toWindow) override;

    // Everything appended, joined.
    std::u16string text() const;
    // The same as UTF-8, for readable expectations and failure messages.
    std::string utf8() const;
    // Each appended text, in order.
    const std::vector<std::u16string>& entries() const { return entries_; }
    // True when some appended text equals `line` exactly.
    bool contains(const std::u16string& line) const;
    void clear() { entries_.clear(); }

private:
    std::vector<std::u16string> entries_;
    quorvel::ui::ConsolePage* previous_ = nullptr;
};

}  // namespace testing_support
