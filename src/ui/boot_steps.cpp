// The Boot command's steps: the confirmation, the save and the boot itself.
#include "ui/boot_steps.h"

#include "boot/boot_menu.h"
#include "platform/windows.h"

namespace quorvel::ui {

namespace {
void startDirectly(BootMenu& menu) { menu.startBoot(); }
BootRunner bootRunner = startDirectly;
}  // namespace

bool confirmBoot(BootMenu& menu, ce::HWND owner) {
    if (!menu.safetyMessage) return true;
    ce::UINT icon = menu.pauseBeforeBoot ? ce::MB_ICONQUESTION : ce::MB_ICONEXCLAMATION;
    if (ce::MessageBoxW(owner, u"Data in memory will be lost.\nAre you sure?", u"WARNING", ce::MB_YESNO | icon) !=
        ce::IDYES)
        return false;
    ce::UpdateWindow(owner);
    return true;
}

void setBootRunner(BootRunner runner) { bootRunner = runner ? runner : startDirectly; }

void startBootSteps(BootMenu& menu, bool save, bool* saved) {
    menu.progressDone();
    menu.logText(u"BOOT START\n");
    menu.collectOptions();
    bool ok = !save || menu.saveOptions();
    if (saved) *saved = ok;
    bootRunner(menu);
}

}  // namespace quorvel::ui
