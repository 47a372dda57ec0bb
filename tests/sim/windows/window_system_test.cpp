// The window system's core: the message queue, timers on the simulated clock, focus
// and activation, window words and bounded text, and where the LCD frame lives.
#include "screen_fixture.h"

#include "sim/screen/frame_buffer.h"

namespace windows_test {
namespace {

using WindowSystemTest = ScreenTest;

TEST_F(WindowSystemTest, PostedMessagesArriveInOrderAndQuitEndsTheLoop) {
    PostMessageW(main, WM_USER + 1, 11, 0);
    PostMessageW(main, WM_USER + 2, 22, 0);
    EXPECT_EQ(SendMessageW(main, WM_USER + 3, 33, 0), 0);
    ASSERT_EQ(received().size(), 1u);  // sent at once, posted ones wait
    PostQuitMessage(7);
    MSG m;
    std::vector<UINT> order;
    while (GetMessageW(&m, nullptr, 0, 0)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
        order.push_back(m.message);
    }
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 7u);
    // Posted messages come before WM_QUIT; painting comes when nothing else waits.
    ASSERT_GE(order.size(), 2u);
    EXPECT_EQ(order[0], WM_USER + 1);
    EXPECT_EQ(order[1], WM_USER + 2);
    // PeekMessageW without removing leaves it there.
    PostMessageW(main, WM_USER + 4, 0, 0);
    EXPECT_TRUE(PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_TRUE(PeekMessageW(&m, nullptr, WM_USER + 4, WM_USER + 4, PM_REMOVE));
    EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_USER + 4, WM_USER + 4, PM_REMOVE));
}

TEST_F(WindowSystemTest, TimersFireOnlyWhenTheClockPassesThem) {
    EXPECT_EQ(SetTimer(main, 2, 5000, nullptr), 2u);
    struct Step {
        const char* name;
        std::uint64_t advance;
        std::size_t timers;  // WM_TIMER seen so far
    };
    const Step steps[] = {
        {"not yet", 0, 0}, {"just before", 4999, 0}, {"due", 1, 1}, {"not again at once", 10, 1},
        // However long the wait, one WM_TIMER stands for all the periods that passed.
        {"three periods later", 15000, 2},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        ws.advanceClock(s.advance);
        ws.pump();
        std::vector<Received> timers = messagesTo(main, WM_TIMER);
        EXPECT_EQ(timers.size(), s.timers);
        if (!timers.empty()) {
            EXPECT_EQ(timers.back().wParam, 2u);
        }
    }
    EXPECT_TRUE(KillTimer(main, 2));
    EXPECT_FALSE(KillTimer(main, 2));
    ws.advanceClock(60000);
    ws.pump();
    EXPECT_EQ(messagesTo(main, WM_TIMER).size(), 2u);
    // A killed timer's waiting WM_TIMER is gone too.
    SetTimer(main, 3, 10, nullptr);
    ws.advanceClock(10);
    MSG m;
    EXPECT_TRUE(PeekMessageW(&m, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
    KillTimer(main, 3);
    ws.pump();
    EXPECT_EQ(messagesTo(main, WM_TIMER).size(), 2u);
}

TEST_F(WindowSystemTest, FocusMovesWithKillAndSetFocusAndActivation) {
    HWND a = CreateWindowExW(0, u"Recorder", u"a", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, main, reinterpret_cast<HMENU>(1), nullptr,
                             nullptr);
    HWND b = CreateWindowExW(0, u"Recorder", u"b", WS_CHILD | WS_VISIBLE, 20, 0, 10, 10, main, reinterpret_cast<HMENU>(2),
                             nullptr, nullptr);
    EXPECT_EQ(GetActiveWindow(), main);
    SetFocus(a);
    received().clear();
    EXPECT_EQ(SetFocus(b), a);
    ASSERT_EQ(received().size(), 2u);
    EXPECT_EQ(received()[0].window, a);
    EXPECT_EQ(received()[0].message, WM_KILLFOCUS);
    EXPECT_EQ(reinterpret_cast<HWND>(received()[0].wParam), b);
    EXPECT_EQ(received()[1].window, b);
    EXPECT_EQ(received()[1].message, WM_SETFOCUS);
    EXPECT_EQ(reinterpret_cast<HWND>(received()[1].wParam), a);

    // Another top-level window takes the activation: WA_INACTIVE first, then WA_ACTIVE.
    HWND other = CreateWindowExW(0, u"Recorder", u"other", 0, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    received().clear();
    ShowWindow(other, SW_SHOW);
    std::vector<Received> deactivated = messagesTo(main, WM_ACTIVATE), activated = messagesTo(other, WM_ACTIVATE);
    ASSERT_EQ(deactivated.size(), 1u);
    ASSERT_EQ(activated.size(), 1u);
    EXPECT_EQ(LOWORD(deactivated[0].wParam), WA_INACTIVE);
    EXPECT_NE(LOWORD(activated[0].wParam), WA_INACTIVE);
    EXPECT_EQ(GetFocus(), other);  // DefWindowProcW gives an activated window the focus

    // Hiding or disabling the focus window takes the keyboard from it.
    SetFocus(b);
    ShowWindow(b, SW_HIDE);
    EXPECT_EQ(GetFocus(), main);
    SetFocus(a);
    EnableWindow(a, FALSE);
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_FALSE(IsWindowEnabled(a));
    EXPECT_FALSE(IsWindowVisible(b));
    EXPECT_TRUE(IsChild(main, a));
    EXPECT_FALSE(IsChild(a, main));
}

TEST_F(WindowSystemTest, KeysReachTheFocusAndShiftIsSeen) {
    HWND edit = CreateWindowExW(0, u"EDIT", u"", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0, 100, 20, main, nullptr, nullptr, nullptr);
    SetFocus(edit);
    short during = 0;
    ws.keyDown(VK_SHIFT);
    ws.key('A');
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_KEYDOWN && m.wParam == 'A') during = GetKeyState(VK_SHIFT);
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    ws.keyUp(VK_SHIFT);
    ws.key('B');
    ws.pump();
    EXPECT_TRUE(during & 0x8000);
    EXPECT_FALSE(GetKeyState(VK_SHIFT) & 0x8000);
    EXPECT_EQ(textOf(edit), u"Ab");
    typeText(u"é:\\");
    EXPECT_EQ(textOf(edit), u"Abé:\\");
}

TEST_F(WindowSystemTest, WindowWordsAndTheDialogUserWord) {
    int object = 0;
    EXPECT_EQ(SetWindowLongW(main, 0, reinterpret_cast<LONG_PTR>(&object)), 0);
    EXPECT_EQ(GetWindowLongW(main, 0), reinterpret_cast<LONG_PTR>(&object));
    // Past the class's four bytes there is no word.
    SetWindowLongW(main, 4, 99);
    EXPECT_EQ(GetWindowLongW(main, 4), 0);
    EXPECT_EQ(GetLastError(), 1413u);
    EXPECT_EQ(GetWindowLongW(main, GWL_STYLE) & WS_VISIBLE, static_cast<LONG_PTR>(WS_VISIBLE));

    HWND d = dialog(u"Options");
    ASSERT_NE(d, nullptr);
    SetWindowLongW(d, DWL_USER, reinterpret_cast<LONG_PTR>(&object));
    EXPECT_EQ(GetWindowLongW(d, DWL_USER), reinterpret_cast<LONG_PTR>(&object));
    EXPECT_EQ(GetWindowLongW(d, DWL_DLGPROC), reinterpret_cast<LONG_PTR>(&recordingDialogProcedure));
}

TEST_F(WindowSystemTest, TextIsCutToTheBufferAndTerminated) {
    std::u16string longText(300, u'x');
    for (std::size_t i = 0; i < longText.size(); ++i) longText[i] = static_cast<char16_t>(u'a' + i % 26);
    HWND d = dialog(u"Boot");
    HWND combo = GetDlgItem(d, 1001), edit = GetDlgItem(d, 1003);
    const struct {
        const char* name;
        HWND window;
        int size;
    } cases[] = {{"path, 260", combo, 260}, {"number, 32", edit, 32}, {"speed, 8", combo, 8}, {"one", edit, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetWindowTextW(c.window, longText.c_str());
        EXPECT_EQ(GetWindowTextLengthW(c.window), 300);
        std::vector<WCHAR> buffer(static_cast<std::size_t>(c.size) + 4, u'#');
        int n = GetWindowTextW(c.window, buffer.data(), c.size);
        EXPECT_EQ(n, c.size - 1);
        EXPECT_EQ(std::u16string(buffer.data()), longText.substr(0, static_cast<std::size_t>(c.size - 1)));
        for (std::size_t i = static_cast<std::size_t>(c.size); i < buffer.size(); ++i) EXPECT_EQ(buffer[i], u'#');
    }
    WCHAR untouched = u'#';
    EXPECT_EQ(GetWindowTextW(edit, &untouched, 0), 0);
    EXPECT_EQ(untouched, u'#');
    EXPECT_EQ(GetWindowTextW(nullptr, &untouched, 1), 0);
    EXPECT_EQ(untouched, 0);
}

TEST_F(WindowSystemTest, DestroyingAWindowTakesItsChildrenTimersAndMessages) {
    HWND parent = CreateWindowExW(0, u"Recorder", u"p", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, main, nullptr, nullptr, nullptr);
    HWND kid = CreateWindowExW(0, u"Recorder", u"k", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
    SetTimer(kid, 1, 10, nullptr);
    PostMessageW(kid, WM_USER, 0, 0);
    SetFocus(kid);
    received().clear();
    EXPECT_TRUE(DestroyWindow(parent));
    std::vector<HWND> destroyed;
    for (const Received& r : received())
        if (r.message == WM_DESTROY) destroyed.push_back(r.window);
    EXPECT_EQ(destroyed, (std::vector<HWND>{parent, kid}));  // the parent hears first
    EXPECT_FALSE(IsWindow(kid));
    EXPECT_EQ(GetFocus(), nullptr);
    received().clear();
    ws.advanceClock(100);
    ws.pump();
    for (const Received& r : received()) EXPECT_NE(r.window, kid);
    EXPECT_FALSE(DestroyWindow(kid));
    EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", WS_VISIBLE, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(CreateWindowExW(0, u"BUTTON", u"", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST_F(WindowSystemTest, ScreenCapsAndTheLcdFrame) {
    HDC dc = GetDC(nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 640);
    EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 240);
    EXPECT_EQ(GetDeviceCaps(dc, BITSPIXEL), 16);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 96);
    ReleaseDC(nullptr, dc);
    RECT client;
    ASSERT_TRUE(GetClientRect(main, &client));
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 240);

    // The frame is in physical memory at the address the LCD controller holds.
    sim::FrameBuffer frame = sim::lcdFrame();
    const std::uint32_t address = device_->settings().frameAddress;
    EXPECT_EQ(frame.pixels, device_->memory().host(sim::PhysicalAddress(address)));
    EXPECT_EQ(frame.lineBytes, 1280);
    ASSERT_NE(device_->lcd(), nullptr);
    EXPECT_EQ(device_->lcd()->read(0x10, 32), address);
    // Painting writes there.
    ws.paint(true);
    std::uint16_t corner;
    std::memcpy(&corner, frame.pixels, 2);
    EXPECT_EQ(corner, 0xC618);  // the main window's light grey
    // No page of the simulated Windows CE is ever taken from the frame.
    const std::uint32_t end = address + 1280 * 240;
    std::size_t frames = 0;
    while (std::optional<sim::PhysicalAddress> f = device_->memory().allocateFrame()) {
        ++frames;
        EXPECT_FALSE(f->value() + sim::FRAME_SIZE > address && f->value() < end) << std::hex << f->value();
    }
    EXPECT_GT(frames, 1000u);
}

}  // namespace
}  // namespace windows_test

namespace windows_test {
namespace {

TEST(LcdFrame, AFrameInsideDramIsNeverHandedOutAsAPage) {
    sim::DeviceSettings settings;
    settings.frameAddress = 0xC1F00000;
    testing_support::TestDevice device(settings);
    sim::FrameBuffer frame = sim::lcdFrame();
    EXPECT_EQ(frame.pixels, device->memory().host(sim::PhysicalAddress(0xC1F00000)));
    std::size_t frames = 0;
    while (std::optional<sim::PhysicalAddress> f = device->memory().allocateFrame()) {
        ++frames;
        EXPECT_FALSE(f->value() >= 0xC1F00000 && f->value() < 0xC1F00000 + 1280 * 240) << std::hex << f->value();
    }
    EXPECT_GT(frames, 1000u);
}

}  // namespace
}  // namespace windows_test
