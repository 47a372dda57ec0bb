// What the boot path needs of the main window: its handle, which owns every message
// box, and the progress bar.
#pragma once

#include "platform/types.h"

namespace quorvel {

class MainWindow {
public:
    virtual ~MainWindow() = default;
    virtual ce::HWND handle() const = 0;
    virtual void progress() = 0;      // one step of the bar
    virtual void progressDone() = 0;  // the bar back to 0
};

}  // namespace quorvel
