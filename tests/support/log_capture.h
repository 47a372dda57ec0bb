// Captures what the LCD console prints: a log keeping every text appended to it,
// installed as the BootMenu's console tab while it lives.
// Declare it after the test's device: the BootMenu it reaches needs one.
#pragma once

#include <string>
#include <vector>

#include "boot/boot_window.h"

namespace testing_support {

class LogCapture : public quorvel::BootLog {
public:
    LogCapture();
    ~LogCapture();
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
    quorvel::BootLog* previous_ = nullptr;
};

}  // namespace testing_support
