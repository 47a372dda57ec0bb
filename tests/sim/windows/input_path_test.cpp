// Keys as the live view and `--keys` deliver them, through one queue: each press is
// WM_KEYDOWN and WM_KEYUP, TranslateMessage makes its one WM_CHAR, and input that
// comes faster than the loop meets the focus a person saw when pressing.
#include <gtest/gtest.h>

#include <string>

#include "screen_fixture.h"
#include "sim/windows/key_names.h"

namespace {

using namespace windows_test;
using Event = sim::InputEvent;

class InputPathTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        d = dialog(u"Boot");
        ASSERT_NE(d, nullptr);
        name = GetDlgItem(d, 1003);
        SetFocus(name);
        SetWindowTextW(name, u"");
    }
    // The program's own loop: the dialog manager first, as the boot loader's has it.
    void run() {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageW(d, &m)) {
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
        }
    }
    void keys(const std::u16string& text) {
        std::string error;
        auto events = sim::keyScript(text, error);
        ASSERT_TRUE(events) << error;
        ws.script(*events);
        run();
    }

    HWND d = nullptr;
    HWND name = nullptr;
};

TEST_F(InputPathTest, EachKeystrokeTypesOnce) {
    keys(u"abc");
    EXPECT_EQ(textOf(name), u"abc");
    keys(u"{Back}");
    EXPECT_EQ(textOf(name), u"ab");
    keys(u"X{Left}{Left}{Del}{End}!");
    EXPECT_EQ(textOf(name), u"aX!");
}

TEST_F(InputPathTest, ThePressCarriesTheDesktopsCharacter) {
    // A layout other than the US one: Shift+2 gives a double quote, and a dead key
    // followed by e gives one accented letter; Control with a letter types nothing.
    ws.script({{Event::KeyDown, 0, 0, VK_SHIFT}, {Event::KeyDown, 0, 0, '2', u'"'}, {Event::KeyUp, 0, 0, '2'},
               {Event::KeyUp, 0, 0, VK_SHIFT}, {Event::KeyDown, 0, 0, 'E', u'\u00e9'}, {Event::KeyUp, 0, 0, 'E'},
               {Event::KeyDown, 0, 0, VK_CONTROL}, {Event::KeyDown, 0, 0, 'A'}, {Event::KeyUp, 0, 0, 'A'},
               {Event::KeyUp, 0, 0, VK_CONTROL}, {Event::Text, 0, 0, u'\u3042'}});
    run();
    EXPECT_EQ(textOf(name), u"\"\u00e9\u3042");
    // Text without a key is WM_CHAR alone: no key message reaches the edit for it.
    EXPECT_TRUE(messagesTo(name, WM_KEYDOWN).empty());
}

TEST_F(InputPathTest, InputFasterThanTheLoopFollowsTheFocus) {
    // All queued before the loop runs: the Tab moves the focus to the platform list's
    // field (its text selected), and what follows is typed there.
    HWND platform = GetDlgItem(d, 1002);
    SetWindowTextW(platform, u"old");
    std::string error;
    ws.script(*sim::keyScript(u"ab{Tab}cd{Shift+Tab}e", error));
    run();
    EXPECT_EQ(textOf(name), u"e");  // Shift+Tab came back and selected "ab"
    EXPECT_EQ(textOf(platform), u"cd");
    EXPECT_EQ(GetFocus(), name);
}

TEST(KeyNamesTest, NamesBecomeKeyPresses) {
    const struct {
        const char* name;
        std::u16string text;
        std::vector<Event> events;
    } cases[] = {
        {"plain text", u"a", {{Event::Character, 0, 0, u'a'}}},
        {"a key", u"{Enter}", {{Event::KeyDown, 0, 0, VK_RETURN}, {Event::KeyUp, 0, 0, VK_RETURN}}},
        {"with shift",
         u"{Shift+Tab}",
         {{Event::KeyDown, 0, 0, VK_SHIFT}, {Event::KeyDown, 0, 0, VK_TAB}, {Event::KeyUp, 0, 0, VK_TAB},
          {Event::KeyUp, 0, 0, VK_SHIFT}}},
        {"a brace", u"{{x", {{Event::Character, 0, 0, u'{'}, {Event::Character, 0, 0, u'x'}}},
        {"paging", u"{PgDn}", {{Event::KeyDown, 0, 0, VK_NEXT}, {Event::KeyUp, 0, 0, VK_NEXT}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        auto events = sim::keyScript(c.text, error);
        ASSERT_TRUE(events) << error;
        ASSERT_EQ(events->size(), c.events.size());
        for (std::size_t i = 0; i < c.events.size(); ++i) {
            EXPECT_EQ((*events)[i].kind, c.events[i].kind) << i;
            EXPECT_EQ((*events)[i].code, c.events[i].code) << i;
        }
    }
    for (const char16_t* names : {u"{Tab", u"{Tabs}", u"{}", u"{Shift+}", u"a{enter}"}) {
        std::string error;
        EXPECT_FALSE(sim::keyScript(names, error));
        EXPECT_FALSE(error.empty());
    }
    // Every name the help lists is one the script takes.
    std::string error;
    EXPECT_TRUE(sim::keyScript(u"{Tab}{Shift+Tab}{Enter}{Esc}{Up}{Down}{Left}{Right}{Home}{End}{Back}{Del}{Space}", error))
        << error;
}

}  // namespace
