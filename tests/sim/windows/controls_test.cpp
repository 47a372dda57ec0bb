// The built-in controls, each driven by the messages a program sends and by taps and
// keys, checked by their state and by what their parent is told.
#include "screen_fixture.h"

namespace windows_test {
namespace {

using ControlsTest = ScreenTest;

HWND child(HWND parent, const char16_t* cls, const char16_t* text, DWORD style, int x, int y, int w, int h, int id,
           DWORD exStyle = 0) {
    return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(id)), nullptr, nullptr);
}

TEST_F(ControlsTest, ButtonsToggleOnTapsAndTellTheirParent) {
    struct Case {
        const char* name;
        DWORD style;
        std::vector<WPARAM> checks;  // after each of two taps
        bool notifies;
    };
    const Case cases[] = {
        {"auto check box", BS_AUTOCHECKBOX, {1, 0}, true},
        {"plain check box leaves it to the program", BS_CHECKBOX, {0, 0}, true},
        {"auto radio button stays chosen", BS_AUTORADIOBUTTON, {1, 1}, true},
        {"push button", BS_PUSHBUTTON, {0, 0}, true},
        {"group box takes no taps", BS_GROUPBOX, {0, 0}, false},
    };
    int id = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HWND b = child(main, u"BUTTON", u"text", c.style, 10, 40, 100, 20, ++id);
        received().clear();
        for (WPARAM expected : c.checks) {
            tapOn(b);
            EXPECT_EQ(SendMessageW(b, BM_GETCHECK, 0, 0), static_cast<LRESULT>(expected));
        }
        std::vector<Received> commands = messagesTo(main, WM_COMMAND);
        EXPECT_EQ(commands.size(), c.notifies ? 2u : 0u);
        for (const Received& r : commands) {
            EXPECT_EQ(r.id, id);
            EXPECT_EQ(r.code, BN_CLICKED);
            EXPECT_EQ(reinterpret_cast<HWND>(r.lParam), b);
        }
        DestroyWindow(b);
    }
    // A tap that leaves the button before it is lifted does not click it.
    HWND box = child(main, u"BUTTON", u"box", BS_AUTOCHECKBOX, 10, 40, 100, 20, 50);
    POINT p = centre(box);
    ws.tapDown(p.x, p.y);
    ws.tapUp(p.x, 200);
    ws.pump();
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), 0);
    // BM_SETCHECK sets without telling anyone; Space clicks.
    received().clear();
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_TRUE(messagesTo(main, WM_COMMAND).empty());
    SetFocus(box);
    press(VK_SPACE);
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), 0);
    EXPECT_EQ(messagesTo(main, WM_COMMAND).size(), 1u);
}

TEST_F(ControlsTest, NotifyButtonsReportFocusAndTheWholeWParamTellsClicksApart) {
    HWND boot = child(main, u"BUTTON", u"Boot", WS_TABSTOP | BS_NOTIFY, 0, 0, 50, 26, 5);
    HWND cancel = child(main, u"BUTTON", u"Cancel", WS_TABSTOP | BS_NOTIFY, 590, 0, 50, 26, 6);
    SetFocus(boot);
    received().clear();
    tapOn(cancel);
    std::vector<Received> commands = messagesTo(main, WM_COMMAND);
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].wParam, MAKEWPARAM(5, BN_KILLFOCUS));
    EXPECT_EQ(commands[1].wParam, MAKEWPARAM(6, BN_SETFOCUS));
    EXPECT_EQ(commands[2].wParam, MAKEWPARAM(6, BN_CLICKED));
    EXPECT_EQ(GetFocus(), cancel);
}

TEST_F(ControlsTest, EditTakesTypingBackspaceAndItsMessages) {
    HWND edit = child(main, u"EDIT", u"", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 10, 10, 80, 20, 1003);
    tapOn(edit);
    EXPECT_EQ(GetFocus(), edit);
    typeText(u"Tamsel.gz");
    EXPECT_EQ(textOf(edit), u"Tamsel.gz");
    press(VK_BACK);
    press(VK_BACK);
    typeText(u"fs");
    EXPECT_EQ(textOf(edit), u"Tamsel.fs");
    EXPECT_FALSE(messagesTo(main, WM_COMMAND).empty());
    EXPECT_EQ(messagesTo(main, WM_COMMAND).back().code, EN_CHANGE);

    struct Case {
        const char* name;
        WPARAM start;
        LPARAM end;
        const char16_t* insert;
        const char16_t* result;
    };
    const Case cases[] = {
        {"at the end", 9, 9, u"!", u"Tamsel.fs!"},
        {"over a selection", 0, 6, u"kern", u"kern.fs!"},
        {"all with -1", 0, -1, u"x", u"x"},
        {"start past the end", 50, 60, u"y", u"xy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SendMessageW(edit, EM_SETSEL, c.start, c.end);
        SendMessageW(edit, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(c.insert));
        EXPECT_EQ(textOf(edit), c.result);
        EXPECT_EQ(GetWindowTextLengthW(edit), static_cast<int>(std::u16string(c.result).size()));
    }
    // The caret keys and Delete.
    SetWindowTextW(edit, u"abcd");
    press(VK_END);
    press(VK_LEFT);
    press(VK_LEFT);
    press(VK_DELETE);
    EXPECT_EQ(textOf(edit), u"abd");
    press(VK_HOME);
    typeText(u"_");
    EXPECT_EQ(textOf(edit), u"_abd");
}

TEST_F(ControlsTest, TextLongerThanTheViewScrolls) {
    HWND edit = child(main, u"EDIT", u"", WS_BORDER | ES_AUTOHSCROLL, 10, 10, 60, 20, 1);
    SetFocus(edit);
    typeText(u"\\Storage Card\\kernels\\");
    auto* state = dynamic_cast<sim::EditState*>(ws.window(edit)->control.get());
    ASSERT_NE(state, nullptr);
    EXPECT_GT(state->firstChar, 0u);
    // The caret stays inside the view.
    std::u16string shown = textOf(edit).substr(state->firstChar);
    EXPECT_LE(sim::textWidth(shown, ws.fontPixels()), 60 - 2 - 4);
    press(VK_HOME);
    EXPECT_EQ(state->firstChar, 0u);

    // A multi-line log shows its last line after EM_SCROLLCARET.
    HWND log = child(main, u"EDIT", u"", WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN,
                     10, 40, 200, 60, 320);
    EXPECT_EQ(SendMessageW(log, EM_FMTLINES, TRUE, 0), TRUE);
    for (int i = 0; i < 20; ++i) {
        int n = GetWindowTextLengthW(log);
        SendMessageW(log, EM_SETSEL, n, n);
        std::u16string line = u"line " + std::u16string(1, static_cast<char16_t>(u'A' + i)) + u"\r\n";
        SendMessageW(log, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(line.c_str()));
        SendMessageW(log, EM_SCROLLCARET, 0, 0);
    }
    EXPECT_EQ(SendMessageW(log, EM_GETLINECOUNT, 0, 0), 21);
    int first = static_cast<int>(SendMessageW(log, EM_GETFIRSTVISIBLELINE, 0, 0));
    int visible = (60 - 2) / ws.baseUnitY();
    EXPECT_EQ(first, 20 - visible + 1);
    screenshot("edits");
}

TEST_F(ControlsTest, ComboBoxListOpensOnATapAndClosesOnAChoice) {
    HWND combo = child(main, u"COMBOBOX", u"", WS_BORDER | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWN | CBS_AUTOHSCROLL, 10, 10, 105,
                       80, 154);
    for (const char16_t* speed : {u"9600", u"19200", u"115200"})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(speed));
    EXPECT_EQ(SendMessageW(combo, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 1, 0), 1);
    EXPECT_EQ(textOf(combo), u"19200");
    EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 7, 0), CB_ERR);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    SendMessageW(combo, CB_SETCURSEL, 0, 0);

    // The arrow opens the list; a tap on its third line chooses "115200".
    RECT r = ws.screenRect(combo);
    received().clear();
    tapAt(r.right - 4, (r.top + r.bottom) / 2);
    EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), TRUE);
    screenshot("combo_open");
    RECT list = sim::dropListRect(ws, combo);
    tapAt(list.left + 10, list.top + 1 + 2 * sim::comboItemHeight() + 3);
    EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), FALSE);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(textOf(combo), u"115200");
    std::vector<UINT> codes;
    for (const Received& m : messagesTo(main, WM_COMMAND))
        if (m.id == 154) codes.push_back(m.code);
    EXPECT_EQ(codes, (std::vector<UINT>{CBN_SETFOCUS, CBN_DROPDOWN, CBN_SELCHANGE, CBN_CLOSEUP}));

    // A tap elsewhere closes an open list without choosing.
    tapAt(r.right - 4, (r.top + r.bottom) / 2);
    tapAt(600, 200);
    EXPECT_EQ(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0), FALSE);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 2);

    // Typed text goes into its edit, and the text is what a program reads back.
    tapAt(r.left + 5, (r.top + r.bottom) / 2);
    SendMessageW(combo, EM_SETSEL, 0, -1);
    typeText(u"\\Storage Card\\");
    EXPECT_EQ(textOf(combo), u"\\Storage Card\\");
    // The arrow keys step through the list.
    press(VK_UP);
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(textOf(combo), u"19200");
}

TEST_F(ControlsTest, ProgressBarSteps) {
    HWND bar = child(main, u"msctls_progress32", u"", PBS_SMOOTH, 50, 0, 540, 26, 4, WS_EX_CLIENTEDGE);
    struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT result;
        int position;
    };
    const Case cases[] = {
        {"range 0..11", PBM_SETRANGE, 0, MAKELPARAM(0, 11), MAKELPARAM(0, 100), 0},
        {"step 1", PBM_SETSTEP, 1, 0, 10, 0},
        {"set 0", PBM_SETPOS, 0, 0, 0, 0},
        {"step it", PBM_STEPIT, 0, 0, 0, 1},
        {"step again", PBM_STEPIT, 0, 0, 1, 2},
        {"past the end is the end", PBM_SETPOS, 30, 0, 2, 11},
        {"a step past the end starts over", PBM_STEPIT, 0, 0, 11, 1},
        {"back to 0", PBM_SETPOS, 0, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SendMessageW(bar, c.message, c.wParam, c.lParam), c.result);
        EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), c.position);
    }
    for (int i = 0; i < 11; ++i) SendMessageW(bar, PBM_STEPIT, 0, 0);
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 11);
}

TEST_F(ControlsTest, TabControlTellsItsParentOfTapsAndKeys) {
    HWND tabs = child(main, u"SysTabControl32", u"", WS_CLIPSIBLINGS | WS_TABSTOP | TCS_MULTILINE | TCS_VERTICAL, 0, 52, 640,
                      188, 7);
    HIMAGELIST images = ImageList_Create(16, 36, 0, 3, 0);
    for (std::uint32_t colour : {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu}) {
        sim::Bitmap b{16, 36, std::vector<std::uint32_t>(16 * 36, colour)};
        HBITMAP bitmap = ws.addBitmap(b);
        EXPECT_GE(ImageList_Add(images, bitmap, nullptr), 0);
        EXPECT_TRUE(DeleteObject(bitmap));
    }
    SendMessageW(tabs, TCM_SETPADDING, 0, MAKELPARAM(1, 1));
    SendMessageW(tabs, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    for (int i = 0; i < 3; ++i) {
        TCITEMW item{};
        item.mask = TCIF_IMAGE | TCIF_PARAM;
        item.iImage = i;
        item.lParam = 100 + i;
        EXPECT_EQ(SendMessageW(tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item)), i);
    }
    EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 0);
    TCITEMW read{};
    read.mask = TCIF_PARAM;
    EXPECT_TRUE(SendMessageW(tabs, TCM_GETITEMW, 2, reinterpret_cast<LPARAM>(&read)));
    EXPECT_EQ(read.lParam, 102);
    EXPECT_FALSE(SendMessageW(tabs, TCM_GETITEMW, 3, reinterpret_cast<LPARAM>(&read)));

    // The display area is right of the tab column, inside the frame.
    RECT page{0, 52, 640, 240};
    SendMessageW(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&page));
    sim::TabGeometry g = sim::tabGeometry(*ws.window(tabs));
    EXPECT_EQ(g.tabWidth, 16 + 2 + 4);
    EXPECT_EQ(g.tabHeight, 36 + 2 + 4);
    EXPECT_EQ(page.left, g.tabWidth + 2);
    EXPECT_EQ(page.top, 54);
    EXPECT_EQ(page.right, 638);

    // A tap on the third tab: SELCHANGING while the first is current, then SELCHANGE.
    std::vector<std::pair<UINT, LRESULT>> seen;
    received().clear();
    tapAt(10, 52 + 2 * g.tabHeight + 5);
    for (const Received& r : messagesTo(main, WM_NOTIFY)) seen.push_back({r.code, r.id});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, TCN_SELCHANGING);
    EXPECT_EQ(seen[1].first, TCN_SELCHANGE);
    EXPECT_EQ(seen[0].second, 7);
    EXPECT_EQ(SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 2);

    // A key to the focused tab control goes to the parent as TCN_KEYDOWN.
    SetFocus(tabs);
    received().clear();
    press(VK_TAB);
    std::vector<Received> notes = messagesTo(main, WM_NOTIFY);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].code, TCN_KEYDOWN);
    screenshot("tabs");
}

TEST_F(ControlsTest, UpDownChangesItsBuddysNumberWithinItsLimits) {
    HWND edit = child(main, u"EDIT", u"", WS_BORDER | WS_TABSTOP, 82, 0, 36, 22, 2000);
    HWND spin = CreateUpDownControl(0x50800006, 80, 0, 50, 50, main, 2001, nullptr, edit, 60, 1, 30);
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(textOf(edit), u"30");
    RECT s = ws.screenRect(spin), e = ws.screenRect(edit);
    EXPECT_EQ(s.left, e.right);  // beside the edit, which gave up the room
    EXPECT_EQ(s.bottom - s.top, e.bottom - e.top);
    auto tapUp = [&] { tapAt(s.left + 2, s.top + 2); };
    auto tapDown = [&] { tapAt(s.left + 2, s.bottom - 2); };
    tapUp();
    EXPECT_EQ(textOf(edit), u"31");
    tapDown();
    tapDown();
    EXPECT_EQ(textOf(edit), u"29");
    // The arrows start from what was typed, and stop at the limits.
    SetWindowTextW(edit, u"60");
    tapUp();
    EXPECT_EQ(textOf(edit), u"60");
    SetWindowTextW(edit, u"1");
    tapDown();
    EXPECT_EQ(textOf(edit), u"1");
    EXPECT_EQ(SendMessageW(spin, UDM_GETPOS, 0, 0), 1);
}

TEST_F(ControlsTest, CloseBoxClosesTheWindow) {
    HWND bar = CommandBar_Create(nullptr, main, 3);
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(CommandBar_AddAdornments(bar, 0, 0));
    EXPECT_EQ(CommandBar_Height(bar), 26);
    EXPECT_EQ(GetDlgCtrlID(bar), 3);
    screenshot("command_bar");
    received().clear();
    tapAt(640 - 8, 12);
    std::vector<UINT> order;
    for (const Received& r : received())
        if (r.window == main && (r.message == WM_CLOSE || r.message == WM_DESTROY)) order.push_back(r.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_CLOSE, WM_DESTROY}));
    EXPECT_FALSE(IsWindow(main));
    EXPECT_FALSE(IsWindow(bar));
}

}  // namespace
}  // namespace windows_test
