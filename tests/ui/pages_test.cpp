// The option pages as the user meets them: what each control shows from the
// options, what a tap changes, and what `collect` writes back.
#include "ui_fixture.h"

#include <fstream>

#include "boot/platform_id.h"
#include "sim/utf.h"
#include "support/case_names.h"

namespace ui_test {
namespace {

using quorvel::theBootMenu;

class PagesTest : public UiTest {
protected:
    explicit PagesTest(sim::DeviceSettings s = {}) : UiTest(std::move(s)) {}
    quorvel::ui::MainPage* main() { return mainWindow().mainPage(); }
    quorvel::ui::OptionPage* option() { return mainWindow().optionPage(); }
    quorvel::ui::ConsolePage* console() { return mainWindow().consolePage(); }
};

TEST_F(PagesTest, MainPageShowsTheOptions) {
    quorvel::BootMenu& menu = theBootMenu();
    menu.kernelNameSet = 0;
    menu.rootFileSystem = quorvel::ROOT_SD;
    menu.serialConsole = 0;
    menu.serialSpeed = 38400;
    run({[&] {
        EXPECT_EQ(textOf(item(main(), 1003)), u"tamsel.gz");
        EXPECT_TRUE(main()->isChecked(102));
        EXPECT_FALSE(ce::IsWindowEnabled(item(main(), 107)));
        // No entry for 38400: the first, and the list disabled with the console.
        EXPECT_EQ(ce::SendDlgItemMessageW(main()->handle(), 154, ce::CB_GETCURSEL, 0, 0), 0);
        EXPECT_EQ(textOf(item(main(), 154)), u"9600");
        EXPECT_FALSE(ce::IsWindowEnabled(item(main(), 154)));
        tapOn(item(main(), 103));
        tapOn(item(main(), 153));
    },
         [&] {
             EXPECT_TRUE(ce::IsWindowEnabled(item(main(), 107)));
             EXPECT_TRUE(ce::IsWindowEnabled(item(main(), 154)));
             tapOn(item(main(), 104));
         },
         [&] {
             EXPECT_FALSE(ce::IsWindowEnabled(item(main(), 107)));
             ce::SetWindowTextW(item(main(), 1003), u"");
             main()->collect();
             EXPECT_EQ(menu.kernelNameSet, 1);
             EXPECT_EQ(menu.kernelName[0], 0);
             EXPECT_EQ(menu.rootFileSystem, quorvel::ROOT_NFS);
             EXPECT_EQ(menu.serialConsole, 1);
             EXPECT_EQ(menu.serialSpeed, 9600u);
         }});
}

TEST_F(PagesTest, PlatformListIsAlphabeticalAndChoosesByName) {
    run({[&] {
        ce::HWND list = item(main(), 1002);
        auto count = ce::SendMessageW(list, ce::CB_GETCOUNT, 0, 0);
        ASSERT_GT(count, 1);
        std::vector<std::u16string> names;
        for (int i = 0; i < count; ++i) {
            ce::WCHAR name[260] = {};
            ce::SendMessageW(list, ce::CB_GETLBTEXT, static_cast<ce::WPARAM>(i), reinterpret_cast<ce::LPARAM>(name));
            names.emplace_back(name);
        }
        EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
        auto* first = theBootMenu().platformEntryName(0);
        EXPECT_NE(names[0], first) << "the table's first entry sorts first; the case shows nothing";
        ce::SendMessageW(list, ce::CB_SETCURSEL, 0, 0);
        main()->collect();
        EXPECT_EQ(quorvel::platformName(theBootMenu().platform), names[0]);
    }});
}

using testing_support::PrintTo;
struct FlagCase {
    const char* name;
    int width, height, x, y;
};

class FlagColumnTest : public PagesTest, public ::testing::WithParamInterface<FlagCase> {
protected:
    FlagColumnTest() : PagesTest(settings()) {}
    static sim::DeviceSettings settings() {
        sim::DeviceSettings s;
        s.screenWidth = GetParam().width;
        s.screenHeight = GetParam().height;
        return s;
    }
};

TEST_P(FlagColumnTest, FlagsStandWhereTheScreenHasRoom) {
    run({[&] {
        ce::RECT page = windows().screenRect(main()->handle());
        const std::pair<int, int> places[] = {{152, 0}, {151, 20}, {150, 40}, {155, 60}, {153, 80}};
        for (auto [id, dy] : places) {
            SCOPED_TRACE(id);
            ce::RECT r = windows().screenRect(item(main(), id));
            EXPECT_EQ(r.left - page.left, GetParam().x);
            EXPECT_EQ(r.top - page.top, GetParam().y + dy);
        }
        ce::RECT speed = windows().screenRect(item(main(), 154));
        EXPECT_EQ(speed.left - page.left, GetParam().x + 100);
    }});
}

INSTANTIATE_TEST_SUITE_P(Screens, FlagColumnTest,
                         ::testing::Values(FlagCase{"Wide640x240", 640, 240, 250, 5},
                                           FlagCase{"Narrow240x320", 240, 320, 5, 140},
                                           FlagCase{"Tall640x480", 640, 480, 5, 140}),
                         ::testing::PrintToStringParamName());

TEST_F(PagesTest, AutoBootWithZeroMeansNone) {
    theBootMenu().autoBootSeconds = 0;
    run({[&] {
        EXPECT_FALSE(option()->isChecked(200));
        EXPECT_FALSE(ce::IsWindowEnabled(item(option(), 2000)));
        chooseTab(1);
    },
         [&] { tapOn(item(option(), 200)); },
         [&] {
             EXPECT_TRUE(ce::IsWindowEnabled(item(option(), 2000)));
             ce::SetWindowTextW(item(option(), 2000), u"0");
             theBootMenu().autoBootSeconds = 7;
             option()->collect();
             EXPECT_EQ(theBootMenu().autoBootSeconds, 0);
             ce::SetWindowTextW(item(option(), 2000), u"90");
             option()->collect();
             EXPECT_EQ(theBootMenu().autoBootSeconds, 90);  // the arrows' limits bind only the arrows
         }});
}

std::vector<std::uint32_t>& hookCalls() {
    static std::vector<std::uint32_t> calls;
    return calls;
}

TEST_F(PagesTest, DebugBitsAndHooks) {
    hookCalls().clear();
    run({[&] { chooseTab(2); },
         [&] {
             tapOn(item(console(), 300));
             tapOn(item(console(), 307));
             tapOn(item(console(), 310));  // no hook yet: nothing
         },
         [&] {
             EXPECT_EQ(theBootMenu().debugBits, 0x81u);
             theBootMenu().debugHooks[1] = {[](std::uint32_t argument, std::uint32_t bits, quorvel::DebugHook*) {
                                                hookCalls().push_back(argument);
                                                hookCalls().push_back(bits);
                                            },
                                            42};
             tapOn(item(console(), 311));
         }});
    EXPECT_EQ(hookCalls(), (std::vector<std::uint32_t>{42, 0x81}));
}

TEST_F(PagesTest, LogGoesToTheViewOrToTheFile) {
    run({[&] {
        console()->appendLog(u"ab\n", false);
        EXPECT_EQ(textOf(item(console(), 320)), u"ab\r\n");
        chooseTab(2);
    },
         [&] { tapOn(item(console(), 321)); },
         [&] {
             ASSERT_TRUE(console()->savingToFile());
             console()->appendLog(u"ab\n\u00e9", false);
             // Each text is pushed through to the card, byte by byte then flushed.
             EXPECT_EQ(device_->faults().calls("FlushFileBuffers"), 1u);
             // Only the page's own line reached the view.
             EXPECT_EQ(textOf(item(console(), 320)), u"ab\r\nlog file is \\Storage Card\\bootlog.txt\r\n");
         }});
    EXPECT_EQ(device_.readFile("Storage Card/bootlog.txt"), std::string("ab\n\x69", 4));
}

// A long boot log can be read back: the view follows new lines only while the
// reader has left it at the end.
TEST_F(PagesTest, TheLogFollowsNewLinesOnlyFromItsEnd) {
    run({[&] { chooseTab(2); },
         [&] {
             ce::HWND view = item(console(), 320);
             auto first = [&] { return ce::SendMessageW(view, ce::EM_GETFIRSTVISIBLELINE, 0, 0); };
             for (int i = 0; i < 60; ++i) console()->appendLog(u"a line of the boot\n", false);
             ce::LRESULT end = first();
             EXPECT_GT(end, 0);
             ce::SendMessageW(view, ce::EM_LINESCROLL, 0, -10);  // reading back
             console()->appendLog(u"one more\n", false);
             EXPECT_EQ(first(), end - 10);
             ce::SendMessageW(view, ce::WM_VSCROLL, ce::SB_BOTTOM, 0);  // back at the end
             console()->appendLog(u"and another\n", false);
             EXPECT_EQ(first(), end + 2);
         }});
}

class NoCardTest : public PagesTest {
protected:
    NoCardTest() : PagesTest(settings()) {}
    static sim::DeviceSettings settings() {
        sim::DeviceSettings s;
        s.storageCards.clear();
        return s;
    }
};

TEST_F(NoCardTest, SaveToFileWithoutACardFallsBackToTheView) {
    run({[&] { chooseTab(2); }, [&] { tapOn(item(console(), 321)); },
         [&] {
             console()->appendLog(u"x\n", false);
             EXPECT_FALSE(console()->savingToFile());
             EXPECT_FALSE(console()->isChecked(321));
             EXPECT_FALSE(ce::IsWindowEnabled(item(console(), 322)));
             EXPECT_EQ(textOf(item(console(), 320)), u"couldn't find temporary directory.\r\nx\r\n");
         }});
}

TEST_F(PagesTest, ALogFileNameTooLongIsNotOpened) {
    run({[&] { chooseTab(2); }, [&] { tapOn(item(console(), 321)); },
         [&] {
             ce::SetWindowTextW(item(console(), 322), std::u16string(250, u'n').c_str());
             console()->appendLog(u"x", false);
             EXPECT_FALSE(console()->savingToFile());
             EXPECT_EQ(textOf(item(console(), 320)), u"x");
         }});
}

}  // namespace
}  // namespace ui_test
