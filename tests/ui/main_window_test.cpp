// The program's window on the simulated handheld, driven by taps and keys: what
// start-up builds, the Boot command, the auto boot, the keyboard and shut-down.
#include "ui_fixture.h"

#include "boot/boot_context.h"
#include "sim/utf.h"
#include "support/boot_harness.h"
#include "support/case_names.h"

namespace ui_test {
namespace {

using quorvel::theBootMenu;
using quorvel::ui::MainWindow;

class MainWindowTest : public UiTest {};

TEST_F(MainWindowTest, StartUpBuildsTheWindowAndShutDownUndoesIt) {
    int code = run({[&] {
        MainWindow& w = mainWindow();
        EXPECT_EQ(textOf(w.handle()), u"QUORVEL Build 16");
        ASSERT_TRUE(w.bootButton() && w.cancelButton() && w.progressBar() && w.tabWindow());
        EXPECT_EQ(ce::GetDlgCtrlID(w.bootButton()->handle()), 5);
        EXPECT_EQ(ce::GetDlgCtrlID(w.cancelButton()->handle()), 6);
        EXPECT_EQ(ce::GetDlgCtrlID(w.progressBar()->handle()), 4);
        EXPECT_EQ(ce::GetDlgCtrlID(w.tabWindow()->handle()), 7);
        EXPECT_EQ(ce::SendMessageW(w.tabWindow()->handle(), ce::TCM_GETITEMCOUNT, 0, 0), 3);
        EXPECT_EQ(theBootMenu().mainTab, static_cast<quorvel::ui::TabPage*>(w.mainPage()));
        EXPECT_TRUE(ce::IsWindowVisible(w.mainPage()->handle()));
        EXPECT_FALSE(ce::IsWindowVisible(w.optionPage()->handle()));
        EXPECT_EQ(ce::GetFocus(), w.bootButton()->handle());
        tapOn(w.cancelButton()->handle());
    }});
    EXPECT_EQ(code, 0);
    // The options are not saved at exit.
    EXPECT_FALSE(std::filesystem::exists(device_.card() / "quorvel.cnf"));
}

using testing_support::PrintTo;
struct ScreenCase {
    const char* name;
    int width, height, buttonWidth;
};

class ButtonWidthTest : public UiTest, public ::testing::WithParamInterface<ScreenCase> {
protected:
    ButtonWidthTest() : UiTest(settings()) {}
    static sim::DeviceSettings settings() {
        sim::DeviceSettings s;
        s.screenWidth = GetParam().width;
        s.screenHeight = GetParam().height;
        return s;
    }
};

TEST_P(ButtonWidthTest, ButtonsFollowTheScreenWidth) {
    run({[&] {
        MainWindow& w = mainWindow();
        EXPECT_EQ(w.buttonWidth(), GetParam().buttonWidth);
        ce::RECT boot = windows().screenRect(w.bootButton()->handle());
        ce::RECT cancel = windows().screenRect(w.cancelButton()->handle());
        ce::RECT bar = windows().screenRect(w.progressBar()->handle());
        EXPECT_EQ(boot.right - boot.left, GetParam().buttonWidth);
        EXPECT_EQ(cancel.right, GetParam().width);
        EXPECT_EQ(bar.left, boot.right);
        EXPECT_EQ(bar.right, cancel.left);
    }});
}

INSTANTIATE_TEST_SUITE_P(Screens, ButtonWidthTest,
                         ::testing::Values(ScreenCase{"Narrow240x320", 240, 320, 50},
                                           ScreenCase{"Exactly320x240", 320, 240, 50},
                                           ScreenCase{"Wide640x240", 640, 240, 75},
                                           ScreenCase{"Wide640x480", 640, 480, 75}),
                         ::testing::PrintToStringParamName());

struct SafetyCase {
    const char* name;
    bool pause;
    ce::UINT flags;
};

class SafetyQuestionTest : public UiTest, public ::testing::WithParamInterface<SafetyCase> {};

TEST_P(SafetyQuestionTest, NoLeavesEverythingAsItWas) {
    quorvel::BootMenu& menu = theBootMenu();
    menu.safetyMessage = ce::TRUE;
    menu.pauseBeforeBoot = GetParam().pause;
    run({[&] { tapOn(mainWindow().bootButton()->handle()); },
         [&] { tapOn(find(u"No")); },
         [&] {}});
    const auto& boxes = device_->messageBoxes().shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"WARNING");
    EXPECT_EQ(boxes[0].text, u"Data in memory will be lost.\nAre you sure?");
    EXPECT_EQ(boxes[0].type, GetParam().flags);
    EXPECT_EQ(boxes[0].answer, ce::IDNO);
    EXPECT_FALSE(std::filesystem::exists(device_.card() / "quorvel.cnf"));
}

INSTANTIATE_TEST_SUITE_P(Flags, SafetyQuestionTest,
                         ::testing::Values(SafetyCase{"WithoutPause", false, 0x34}, SafetyCase{"WithPause", true, 0x24}),
                         ::testing::PrintToStringParamName());

TEST_F(MainWindowTest, AFailedBootLeavesTheBarAtZeroAndTheWindowReady) {
    quorvel::BootMenu& menu = theBootMenu();
    testing_support::selectKernel(menu, u"HP Jornada 720 (US/UK)", u"\\Storage Card\\", u"missing.gz");
    menu.safetyMessage = ce::FALSE;
    int steps = -1;
    run({[&] { tapOn(mainWindow().bootButton()->handle()); },
         [&] {
             // The failure box is on the screen; the bar has moved.
             ce::HWND ok = find(u"OK");
             ASSERT_TRUE(ok);
             steps = static_cast<int>(ce::SendMessageW(mainWindow().progressBar()->handle(), ce::PBM_GETPOS, 0, 0));
             tapOn(ok);
         },
         [&] {
             EXPECT_EQ(ce::SendMessageW(mainWindow().progressBar()->handle(), ce::PBM_GETPOS, 0, 0), 0);
             tapOn(mainWindow().cancelButton()->handle());
         }});
    EXPECT_GT(steps, 0);
    EXPECT_FALSE(handOver());
    // The Boot command saved what the pages held.
    EXPECT_TRUE(std::filesystem::exists(device_.card() / "quorvel.cnf"));
}

TEST_F(MainWindowTest, AutoBootCancelledByATapThatStillActs) {
    theBootMenu().autoBootSeconds = 5;
    run({[&] {
             windows().advanceClock(4000);
             tapOn(item(mainWindow().mainPage(), 152));
         },
         [&] {
             EXPECT_TRUE(mainWindow().mainPage()->isChecked(152));
             EXPECT_FALSE(windows().hasTimer(mainWindow().handle(), 2));
         },
         [&] { windows().advanceClock(10000); }, [&] {}});
    EXPECT_TRUE(device_->messageBoxes().shown().empty());
    EXPECT_FALSE(std::filesystem::exists(device_.card() / "quorvel.cnf"));
}

TEST_F(MainWindowTest, AutoBootZeroStartsNoTimer) {
    theBootMenu().autoBootSeconds = 0;
    run({[&] { EXPECT_FALSE(windows().hasTimer(mainWindow().handle(), 2)); }});
}

struct KeyCase {
    const char* name;
    const char* from;  // "boot", "cancel", "tabs", "last"
    int key;
    bool shift;
    const char* to;
};

class NavigationTest : public UiTest, public ::testing::WithParamInterface<KeyCase> {
protected:
    ce::HWND named(const std::string& name) {
        MainWindow& w = mainWindow();
        if (name == "boot") return w.bootButton()->handle();
        if (name == "cancel") return w.cancelButton()->handle();
        if (name == "tabs") return w.tabWindow()->handle();
        if (name == "first") return ce::GetNextDlgTabItem(w.mainPage()->handle(), nullptr, ce::FALSE);
        return ce::GetNextDlgTabItem(w.mainPage()->handle(), nullptr, ce::TRUE);
    }
};

TEST_P(NavigationTest, KeysMoveTheFocus) {
    const KeyCase& c = GetParam();
    run({[&] {
        ce::SetFocus(named(c.from));
        if (c.shift) windows().keyDown(ce::VK_SHIFT);
        windows().key(c.key);
        if (c.shift) windows().keyUp(ce::VK_SHIFT);
    },
         [&] { EXPECT_EQ(ce::GetFocus(), named(c.to)); }});
}

INSTANTIATE_TEST_SUITE_P(
    Keys, NavigationTest,
    ::testing::Values(KeyCase{"TabOnBoot", "boot", ce::VK_TAB, false, "cancel"},
                      KeyCase{"TabOnCancel", "cancel", ce::VK_TAB, false, "tabs"},
                      KeyCase{"TabInTabs", "tabs", ce::VK_TAB, false, "first"},
                      KeyCase{"TabOnLastControl", "last", ce::VK_TAB, false, "tabs"},
                      KeyCase{"ShiftTabOnBoot", "boot", ce::VK_TAB, true, "tabs"},
                      KeyCase{"ShiftTabOnCancel", "cancel", ce::VK_TAB, true, "boot"},
                      KeyCase{"ShiftTabInTabs", "tabs", ce::VK_TAB, true, "cancel"},
                      KeyCase{"RightOnBoot", "boot", ce::VK_RIGHT, false, "cancel"},
                      KeyCase{"LeftOnCancel", "cancel", ce::VK_LEFT, false, "boot"},
                      KeyCase{"LeftInTabs", "tabs", ce::VK_LEFT, false, "cancel"}),
    ::testing::PrintToStringParamName());

}  // namespace
}  // namespace ui_test
