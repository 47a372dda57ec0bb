// What the boot path needs of the windows that show it, declared here so that it does
// not depend on them: the main window (the bar, the owner of message boxes), the pages
// whose controls hold options, and the log. The boot loader's window implements them,
// and so does the command line, which has a terminal instead.
#pragma once

#include "platform/types.h"

namespace quorvel {

class BootWindow {
public:
    // The owner of the boot path's message boxes.
    virtual ce::HWND messageOwner() const = 0;
    // "[progress] label" in the log and one step of the bar; the bar back to 0.
    virtual void progressStep(const char* label) = 0;
    virtual void progressReset() = 0;

protected:
    ~BootWindow() = default;
};

class OptionSource {
public:
    // Writes what the controls hold into the boot options.
    virtual void collect() = 0;

protected:
    ~OptionSource() = default;
};

class BootLog {
public:
    // toWindow false: what the consoles print (`logText`); true: the log's own
    // messages, which are always shown.
    virtual void appendLog(const ce::WCHAR* text, bool toWindow) = 0;

protected:
    ~BootLog() = default;
};

}  // namespace quorvel
