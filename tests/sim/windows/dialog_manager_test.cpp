// The dialog manager: dialogs built from windres templates land where their dialog
// units say, Tab and the arrow keys move as Windows moves them, automatic radio
// buttons keep one of their group checked, and message boxes are modal dialogs.
#include "screen_fixture.h"

#include <algorithm>

namespace windows_test {
namespace {

using DialogManagerTest = ScreenTest;

// Dialog units to pixels, rounding as MulDiv does.
int units(int value, int base, int divisor) { return (value * base + divisor / 2) / divisor; }

struct Placed {
    int id;
    int x, y, cx, cy;  // dialog units
};

TEST_F(DialogManagerTest, ControlsLandAtTheirDialogUnitRectangles) {
    // 8-point DejaVu Sans Condensed at 96 dots per inch, near the handheld's own
    // dialog face, so a 120-unit control fits a 240-pixel screen beside the tabs.
    EXPECT_EQ(ws.baseUnitX(), 6);
    EXPECT_EQ(ws.baseUnitY(), 13);
    HWND d = dialog(u"Boot", 0x1234);
    ASSERT_NE(d, nullptr);
    const Placed table[] = {
        {1003, 75, 5, 40, 12}, {101, 10, 40, 22, 10}, {104, 85, 40, 22, 10},  {106, 35, 51, 22, 10},
        {107, 10, 64, 100, 12}, {100, 5, 31, 110, 48}, {152, 5, 59, 120, 9}, {153, 5, 95, 55, 9},
    };
    RECT origin = ws.screenRect(d);
    for (const Placed& p : table) {
        SCOPED_TRACE(p.id);
        RECT r = ws.screenRect(GetDlgItem(d, p.id));
        EXPECT_EQ(r.left - origin.left, units(p.x, 6, 4));
        EXPECT_EQ(r.top - origin.top, units(p.y, 13, 8));
        EXPECT_EQ(r.right - r.left, units(p.cx, 6, 4));
        EXPECT_EQ(r.bottom - r.top, units(p.cy, 13, 8));
    }
    // A drop-down combo box is as tall as its field; the template's height is the open list's.
    RECT combo = ws.screenRect(GetDlgItem(d, 1001));
    EXPECT_EQ(combo.left - origin.left, units(5, 6, 4));
    EXPECT_EQ(combo.right - combo.left, units(70, 6, 4));
    EXPECT_EQ(combo.bottom - combo.top, units(12, 13, 8));

    // WM_INITDIALOG came with the creation parameter and the first tab stop.
    std::vector<Received> init = messagesTo(d, WM_INITDIALOG);
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(init[0].lParam, 0x1234);
    EXPECT_EQ(reinterpret_cast<HWND>(init[0].wParam), GetDlgItem(d, 1001));
    EXPECT_EQ(GetParent(d), main);
    screenshot("dialog_boot");
}

sim::DeviceSettings doubleDpi() {
    sim::DeviceSettings settings;
    settings.screenWidth = 480;
    settings.screenHeight = 640;
    settings.dpi = 192;
    return settings;
}

class HighDpiTest : public ScreenTest {
protected:
    HighDpiTest() : ScreenTest(doubleDpi()) {}
};

TEST_F(HighDpiTest, DialogUnitsGrowWithTheScreensDpi) {
    // The face is sized from the DPI, and the dialog units with it.
    EXPECT_NEAR(ws.fontPixels(), 8.0 * 192 / 72, 0.01);
    EXPECT_NEAR(ws.baseUnitX(), 12, 1);
    EXPECT_NEAR(ws.baseUnitY(), 26, 1);
    HWND d = dialog(u"Boot");
    RECT r = ws.screenRect(GetDlgItem(d, 107));
    EXPECT_EQ(r.right - r.left, units(100, ws.baseUnitX(), 4));
    screenshot("dialog_boot_192dpi");
}

TEST_F(DialogManagerTest, TabRunsThroughTheTabStopsAndRoundAgain) {
    HWND d = dialog(u"Boot");
    ASSERT_NE(d, nullptr);
    EnableWindow(GetDlgItem(d, 107), FALSE);  // a disabled control is passed over
    SetFocus(GetDlgItem(d, 1001));
    // Radio buttons and the group box have no WS_TABSTOP here.
    const int forward[] = {1003, 1002, 152, 153, 154, 1001};
    MSG m;
    for (int id : forward) {
        SCOPED_TRACE(id);
        ws.key(VK_TAB);
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            if (!IsDialogMessageW(d, &m)) DispatchMessageW(&m);
        EXPECT_EQ(GetFocus(), GetDlgItem(d, id));
    }
    const int backward[] = {154, 153, 152, 1002};
    for (int id : backward) {
        SCOPED_TRACE(id);
        ws.keyDown(VK_SHIFT);
        ws.key(VK_TAB);
        ws.keyUp(VK_SHIFT);
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            if (!IsDialogMessageW(d, &m)) DispatchMessageW(&m);
        EXPECT_EQ(GetFocus(), GetDlgItem(d, id));
    }
    EXPECT_EQ(GetNextDlgTabItem(d, nullptr, FALSE), GetDlgItem(d, 1001));
    EXPECT_EQ(GetNextDlgTabItem(d, nullptr, TRUE), GetDlgItem(d, 154));
    // A tab stop that is hidden is no tab stop.
    HWND options = dialog(u"Options");
    EXPECT_EQ(GetNextDlgTabItem(options, GetDlgItem(options, 206), FALSE), GetDlgItem(options, 320));
}

TEST_F(DialogManagerTest, DialogCodesDecideWhoTakesTabAndArrows) {
    HWND d = dialog(u"Options");
    ASSERT_NE(d, nullptr);
    struct Case {
        const char* name;
        int id;
        UINT key;
        LRESULT code;
    };
    const Case cases[] = {
        {"check box takes neither", 200, VK_TAB, DLGC_BUTTON},
        {"radio button", 211, VK_DOWN, DLGC_BUTTON | DLGC_RADIOBUTTON},
        {"edit wants arrows", 206, VK_LEFT, DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS},
        {"multi-line edit wants Return", 320, VK_RETURN,
         DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS | DLGC_WANTALLKEYS},
        {"static", 0xFFFF, VK_TAB, DLGC_STATIC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MSG m{GetDlgItem(d, c.id), WM_KEYDOWN, c.key, 1, 0, {0, 0}};
        EXPECT_EQ(SendMessageW(GetDlgItem(d, c.id), WM_GETDLGCODE, c.key, reinterpret_cast<LPARAM>(&m)), c.code);
    }
    // A control that asks for Tab gets it, and the focus stays.
    WNDCLASSW wantsTab{};
    wantsTab.lpfnWndProc = [](HWND w, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        record(w, message, wParam, lParam);
        return message == WM_GETDLGCODE ? DLGC_WANTTAB : DefWindowProcW(w, message, wParam, lParam);
    };
    wantsTab.lpszClassName = u"WantsTab";
    ASSERT_NE(RegisterClassW(&wantsTab), 0);
    HWND taker = CreateWindowExW(0, u"WantsTab", u"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 200, 0, 20, 20, d,
                                 reinterpret_cast<HMENU>(900), nullptr, nullptr);
    SetFocus(taker);
    received().clear();
    MSG tab{taker, WM_KEYDOWN, VK_TAB, 1, 0, {0, 0}};
    EXPECT_TRUE(IsDialogMessageW(d, &tab));
    EXPECT_EQ(GetFocus(), taker);
    EXPECT_EQ(messagesTo(taker, WM_KEYDOWN).size(), 1u);

    // An edit keeps its arrows: Left moves its caret, not the focus.
    HWND edit = GetDlgItem(d, 206);
    SetWindowTextW(edit, u"abc");
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 3, 3);
    MSG m{edit, WM_KEYDOWN, VK_LEFT, 1, 0, {0, 0}};
    EXPECT_TRUE(IsDialogMessageW(d, &m));
    EXPECT_EQ(GetFocus(), edit);
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end, 2u);
    // Return in the multi-line edit is a new line, not the dialog's OK.
    HWND log = GetDlgItem(d, 320);
    SetFocus(log);
    received().clear();
    ws.key(VK_RETURN);
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        if (!IsDialogMessageW(d, &m)) DispatchMessageW(&m);
    EXPECT_EQ(textOf(log), u"\r\n");
    EXPECT_TRUE(messagesTo(d, WM_COMMAND).empty() || messagesTo(d, WM_COMMAND)[0].id != IDOK);
}

TEST_F(DialogManagerTest, AutomaticRadioButtonsKeepOneOfTheirGroup) {
    HWND d = dialog(u"Boot");
    ASSERT_NE(d, nullptr);
    SendDlgItemMessageW(d, 101, BM_SETCHECK, BST_CHECKED, 0);
    received().clear();
    tapOn(GetDlgItem(d, 103));
    for (int id = 101; id <= 106; ++id) {
        SCOPED_TRACE(id);
        EXPECT_EQ(SendDlgItemMessageW(d, id, BM_GETCHECK, 0, 0), id == 103 ? 1 : 0);
    }
    // The first control, focused since the dialog was made, says it lost the focus.
    std::vector<Received> commands = messagesTo(d, WM_COMMAND);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].id, 1001);
    EXPECT_EQ(commands[0].code, CBN_KILLFOCUS);
    commands.erase(commands.begin());
    EXPECT_EQ(commands[0].id, 103);
    EXPECT_EQ(commands[0].code, BN_CLICKED);
    EXPECT_EQ(GetFocus(), GetDlgItem(d, 103));

    // The arrow keys move through the group and choose as they go.
    MSG m;
    ws.key(VK_RIGHT);
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        if (!IsDialogMessageW(d, &m)) DispatchMessageW(&m);
    EXPECT_EQ(GetFocus(), GetDlgItem(d, 104));
    EXPECT_EQ(SendDlgItemMessageW(d, 104, BM_GETCHECK, 0, 0), 1);
    EXPECT_EQ(SendDlgItemMessageW(d, 103, BM_GETCHECK, 0, 0), 0);

    // A WS_GROUP control starts a group of its own: "one" to "three" apart from the rest.
    ShowWindow(d, SW_HIDE);  // the later sibling lies below it
    HWND options = dialog(u"Options");
    SendDlgItemMessageW(options, 200, BM_SETCHECK, BST_CHECKED, 0);
    tapOn(GetDlgItem(options, 212));
    tapOn(GetDlgItem(options, 213));
    EXPECT_EQ(SendDlgItemMessageW(options, 212, BM_GETCHECK, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageW(options, 213, BM_GETCHECK, 0, 0), 1);
    EXPECT_EQ(SendDlgItemMessageW(options, 200, BM_GETCHECK, 0, 0), 1);
    EXPECT_EQ(GetNextDlgGroupItem(options, GetDlgItem(options, 213), FALSE), GetDlgItem(options, 211));
}

TEST_F(DialogManagerTest, MessageBoxIsModalAndAnsweredByATap) {
    HWND button = CreateWindowExW(0, u"BUTTON", u"Boot", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 80, 26, main,
                                  reinterpret_cast<HMENU>(5), nullptr, nullptr);
    SetFocus(button);
    HWND buttonsSeen[2] = {};
    bool ownerTookTap = true;
    int idles = 0;
    ws.setIdle([&] {
        ++idles;
        // The box is up: find its buttons and tap the owner first, then "No".
        HWND box = ws.active();
        HWND yes = GetDlgItem(box, IDYES), no = GetDlgItem(box, IDNO);
        buttonsSeen[0] = yes;
        buttonsSeen[1] = no;
        if (idles == 1) {
            tapAt(40, 13);
            ownerTookTap = !messagesTo(main, WM_COMMAND).empty();
            screenshot("message_box");
            POINT p = centre(no);
            ws.tap(p.x, p.y);
        }
        return idles < 5;
    });
    int answer = MessageBoxW(main, u"Data in memory will be lost.\nAre you sure?", u"WARNING", MB_YESNO | MB_ICONEXCLAMATION);
    EXPECT_EQ(answer, IDNO);
    EXPECT_NE(buttonsSeen[0], nullptr);
    EXPECT_NE(buttonsSeen[1], nullptr);
    EXPECT_FALSE(ownerTookTap);
    // The box is gone, the owner takes input again and its focus is back.
    EXPECT_FALSE(IsWindow(buttonsSeen[1]));
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_EQ(ws.active(), main);
    ASSERT_EQ(device_->messageBoxes().shown().size(), 1u);
    EXPECT_EQ(device_->messageBoxes().shown()[0].answer, IDNO);
}

TEST_F(DialogManagerTest, MessageBoxKeysAnswerAsWindowsDoes) {
    struct Case {
        const char* name;
        UINT type;
        std::vector<int> keys;
        int answer;
    };
    const Case cases[] = {
        {"Enter takes the first button", MB_YESNO | MB_ICONQUESTION, {VK_RETURN}, IDYES},
        {"Tab then Enter takes the second", MB_YESNO, {VK_TAB, VK_RETURN}, IDNO},
        {"Escape on Yes/No does nothing", MB_YESNO, {VK_ESCAPE, VK_TAB, VK_SPACE}, IDNO},
        {"Escape on OK is OK", MB_OK | MB_ICONHAND, {VK_ESCAPE}, IDOK},
        {"Escape on OK/Cancel is Cancel", MB_OKCANCEL, {VK_ESCAPE}, IDCANCEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<sim::InputEvent> events;
        for (int k : c.keys) {
            events.push_back({sim::InputEvent::KeyDown, 0, 0, k});
            events.push_back({sim::InputEvent::KeyUp, 0, 0, k});
        }
        ws.script(events);
        EXPECT_EQ(MessageBoxW(main, u"text", u"caption", c.type), c.answer);
    }
    // With no one left to answer, the box gives its "no" and the quit reaches the program.
    EXPECT_EQ(MessageBoxW(main, u"text", u"caption", MB_YESNO), IDNO);
    MSG m;
    EXPECT_FALSE(GetMessageW(&m, nullptr, 0, 0));
}

TEST_F(DialogManagerTest, LongMessagesWrapToTheScreen) {
    std::u16string text = u"can't open file: \\Storage Card\\kernels\\";
    for (int i = 0; i < 6; ++i) text += u"very long path component ";
    RECT box{};
    std::u16string shown;
    ws.setIdle([&] {
        HWND b = ws.active();
        box = ws.screenRect(b);
        for (HWND c : ws.window(b)->children)
            if (ws.window(c)->className == u"STATIC" && !ws.window(c)->text.empty()) shown = ws.window(c)->text;
        screenshot("message_box_long");
        ws.key(VK_RETURN);
        return true;
    });
    EXPECT_EQ(MessageBoxW(main, text.c_str(), u"BOOT FAILED", MB_OK | MB_ICONHAND), IDOK);
    EXPECT_GE(box.left, 0);
    EXPECT_LE(box.right, 640);
    EXPECT_NE(shown.find(u'\n'), std::u16string::npos);
    std::u16string joined = shown;
    std::replace(joined.begin(), joined.end(), u'\n', u' ');
    EXPECT_EQ(joined, text);  // only spaces became line breaks
}

TEST_F(DialogManagerTest, WithoutWindowsMessageBoxesAreScripted) {
    DestroyWindow(main);
    device_->messageBoxes().script(IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, u"Push YES to boot.", u"Last chance...", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, u"x", u"y", MB_YESNO), IDYES);
}

TEST_F(DialogManagerTest, TemplatesThatEndEarlyMakeNoDialog) {
    static const std::string bytes = testing_support::readHostFile(QUORVEL_WINDOWS_TEST_RES);
    sim::ResourceFile file;
    ASSERT_TRUE(file.load(bytes.data(), bytes.size()));
    const sim::ResourceEntry* entry = file.find(sim::RESOURCE_DIALOG, std::u16string_view(u"Boot"));
    ASSERT_NE(entry, nullptr);
    for (std::size_t cut : {std::size_t(0), std::size_t(10), std::size_t(entry->size / 2), std::size_t(entry->size - 1)}) {
        SCOPED_TRACE(cut);
        std::vector<std::uint8_t> part(entry->data, entry->data + cut);
        EXPECT_EQ(ws.createDialog(part.data(), part.size(), main, recordingDialogProcedure, 0, nullptr), nullptr);
    }
    // A pointer the module's resources do not hold is refused as well.
    EXPECT_EQ(CreateDialogIndirectParamW(nullptr, entry->data, main, recordingDialogProcedure, 0), nullptr);
}

// The calls whose answers were compared with another implementation of the window
// system, call by call.
TEST_F(DialogManagerTest, FocusAloneChecksNoRadioButton) {
    HWND options = dialog(u"Options");
    ASSERT_NE(options, nullptr);
    received().clear();
    SetFocus(GetDlgItem(options, 212));
    EXPECT_EQ(GetFocus(), GetDlgItem(options, 212));
    for (int id : {211, 212, 213}) EXPECT_EQ(SendDlgItemMessageW(options, id, BM_GETCHECK, 0, 0), 0) << id;
    EXPECT_TRUE(messagesTo(options, WM_COMMAND).empty());
    // The arrow keys still move and check.
    MSG m;
    ws.key(VK_DOWN);
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
        if (!IsDialogMessageW(options, &m)) DispatchMessageW(&m);
    EXPECT_EQ(GetFocus(), GetDlgItem(options, 213));
    EXPECT_EQ(SendDlgItemMessageW(options, 213, BM_GETCHECK, 0, 0), 1);
}

TEST_F(DialogManagerTest, GroupItemsRunRoundTheDialog) {
    HWND o = dialog(u"Options");
    ASSERT_NE(o, nullptr);
    auto item = [&](int id) { return GetDlgItem(o, id); };
    HWND label = nullptr;  // the static "Extra Kernel Options:", which starts a group
    for (HWND h : ws.window(o)->children)
        if (ws.window(h)->className == sim::STATIC_CLASS) label = h;
    ASSERT_NE(label, nullptr);
    const struct {
        const char* name;
        HWND from;
        BOOL previous;
        HWND to;
    } cases[] = {
        {"within a group", item(211), FALSE, item(212)},
        {"round a group's end", item(213), FALSE, item(211)},
        {"back round its start", item(211), TRUE, item(213)},
        {"onto a static", item(2000), FALSE, label},
        {"past a hidden control", item(206), FALSE, item(320)},
        {"round the dialog's end", item(320), FALSE, item(200)},
        {"back from a group's first", label, TRUE, item(2000)},
        {"from nothing: the first control", nullptr, FALSE, item(200)},
    };
    for (const auto& c : cases) EXPECT_EQ(GetNextDlgGroupItem(o, c.from, c.previous), c.to) << c.name;
}

TEST_F(DialogManagerTest, ClickingAButtonByMessageMovesTheFocusToIt) {
    HWND d = dialog(u"Boot");
    ASSERT_NE(d, nullptr);
    SetFocus(GetDlgItem(d, 1003));
    received().clear();
    SendDlgItemMessageW(d, 152, BM_CLICK, 0, 0);
    EXPECT_EQ(GetFocus(), GetDlgItem(d, 152));
    EXPECT_EQ(SendDlgItemMessageW(d, 152, BM_GETCHECK, 0, 0), 1);
    std::vector<Received> commands = messagesTo(d, WM_COMMAND);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back().id, 152);
    EXPECT_EQ(commands.back().code, BN_CLICKED);
}

TEST_F(DialogManagerTest, AnOpenListLosingTheFocusIsCancelled) {
    HWND d = dialog(u"Boot");
    ASSERT_NE(d, nullptr);
    HWND combo = GetDlgItem(d, 1002);
    SetFocus(combo);
    SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    received().clear();
    SetFocus(GetDlgItem(d, 1003));
    std::vector<WORD> codes;
    for (const Received& r : messagesTo(d, WM_COMMAND))
        if (r.id == 1002) codes.push_back(static_cast<WORD>(r.code));
    EXPECT_EQ(codes, (std::vector<WORD>{CBN_SELENDCANCEL, CBN_CLOSEUP, CBN_KILLFOCUS}));
    EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
}

TEST_F(DialogManagerTest, ANewDialogHasTheFocusOnItsFirstControl) {
    SetFocus(nullptr);
    // Made hidden, as the boot loader's pages are: WM_INITDIALOG answered TRUE.
    static const std::string bytes = testing_support::readHostFile(QUORVEL_WINDOWS_TEST_RES);
    sim::ResourceFile file;
    ASSERT_TRUE(file.load(bytes.data(), bytes.size()));
    const sim::ResourceEntry* entry = file.find(sim::RESOURCE_DIALOG, std::u16string_view(u"Options"));
    ASSERT_NE(entry, nullptr);
    std::vector<std::uint8_t> copy(entry->data, entry->data + entry->size);
    HWND o = ws.createDialog(copy.data(), copy.size(), main, recordingDialogProcedure, 0, nullptr);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(GetFocus(), GetDlgItem(o, 200));
}

}  // namespace
}  // namespace windows_test
