// What the options need of the tab pages: each writes its controls into the
// BootMenu; the Console page also takes the log.
#pragma once

#include "platform/types.h"

namespace quorvel {

class BootMenu;

class TabPage {
public:
    virtual ~TabPage() = default;
    virtual void collectOptions(BootMenu& menu) = 0;
};

class ConsolePage : public TabPage {
public:
    virtual void appendLog(const ce::WCHAR* text, bool toFileOnly) = 0;
    void collectOptions(BootMenu&) override {}
};

}  // namespace quorvel
