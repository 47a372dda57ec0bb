// Consoles for tests of components that print through a console slot: one that keeps
// every line printed through it, and one that drops them.
#pragma once

#include <string>
#include <vector>

#include "console/console.h"

namespace testing_support {

class RecordingConsole : public quorvel::Console {
public:
    RecordingConsole() = default;

    void print(const ce::WCHAR* format, ...) override;

    // Each print's text, in order.
    const std::vector<std::u16string>& prints() const { return prints_; }
    // Everything printed, joined, as UTF-8.
    std::string text() const;
    bool printed(const std::u16string& text) const;
    void clear() { prints_.clear(); }

    // A slot holding this console, as the boot context hands it to components.
    quorvel::Console* slot = this;

private:
    std::vector<std::u16string> prints_;
};

// Prints nothing: for the fuzz harnesses, where output only slows the runs.
class QuietConsole : public quorvel::Console {
public:
    void print(const ce::WCHAR*, ...) override {}
};

}  // namespace testing_support
