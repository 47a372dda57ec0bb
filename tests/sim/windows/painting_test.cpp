// What the window system paints into the LCD frame, checked where the pixels can be
// reasoned about: the progress fill, greyed disabled controls, a check box's mark.
#include "screen_fixture.h"

namespace windows_test {
namespace {

using PaintingTest = ScreenTest;

HWND child(HWND parent, const char16_t* cls, const char16_t* text, DWORD style, int x, int y, int w, int h, DWORD exStyle = 0) {
    return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent, nullptr, nullptr, nullptr);
}

TEST_F(PaintingTest, ProgressFillCoversItsShareOfTheInside) {
    // At 5 of 11 the fill is 5/11 of the inside, from the left.
    HWND bar = child(main, u"msctls_progress32", u"", PBS_SMOOTH, 50, 30, 540, 26, WS_EX_CLIENTEDGE);
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 11));
    SendMessageW(bar, PBM_SETPOS, 5, 0);
    const int inside = 540 - 4, filled = inside * 5 / 11;
    const int y = 30 + 13;
    struct Case {
        const char* name;
        int x;
        Rgb expected;
    };
    const Case cases[] = {
        {"first inside pixel", 52, NAVY_PIXEL},
        {"last filled pixel", 52 + filled - 1, NAVY_PIXEL},
        {"first unfilled pixel", 52 + filled, GREY_PIXEL},
        {"last inside pixel", 52 + inside - 1, GREY_PIXEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pixel(c.x, y), c.expected);
    }
    screenshot("progress_5_of_11");
    SendMessageW(bar, PBM_SETPOS, 11, 0);
    EXPECT_EQ(pixel(52 + inside - 1, y), NAVY_PIXEL);
    SendMessageW(bar, PBM_SETPOS, 0, 0);
    EXPECT_EQ(pixel(52, y), GREY_PIXEL);
}

TEST_F(PaintingTest, DisabledEditIsGrey) {
    HWND edit = child(main, u"EDIT", u"", WS_BORDER, 20, 20, 100, 20);
    EXPECT_EQ(pixel(60, 24), WHITE_PIXEL);
    EnableWindow(edit, FALSE);
    EXPECT_EQ(pixel(60, 24), GREY_PIXEL);
    EnableWindow(edit, TRUE);
    EXPECT_EQ(pixel(60, 24), WHITE_PIXEL);
}

TEST_F(PaintingTest, CheckedBoxShowsItsMark) {
    HWND box = child(main, u"BUTTON", u"boot verbosely", BS_AUTOCHECKBOX, 20, 20, 180, 14);
    auto darkInBox = [&] {
        int dark = 0;
        // Inside the box, less its 2-pixel frame.
        for (int y = 20 + 1 + 2; y < 20 + 13 - 2; ++y)
            for (int x = 20 + 2; x < 20 + 13 - 2; ++x) {
                Rgb p = pixel(x, y);
                if (p.r + p.g + p.b < 3 * 96) ++dark;
            }
        return dark;
    };
    EXPECT_EQ(darkInBox(), 0);
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_GT(darkInBox(), 8);
    screenshot("check_box");
}

TEST_F(PaintingTest, DialogLooksLikeTheHandheld) {
    // Not compared with a picture: drawn so that a person can look at it.
    HWND d = dialog(u"Boot");
    for (const char16_t* dir : {u"\\Storage Card\\", u"\\My Documents\\"})
        SendDlgItemMessageW(d, 1001, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(dir));
    SendDlgItemMessageW(d, 1001, CB_SETCURSEL, 0, 0);
    SetWindowTextW(GetDlgItem(d, 1003), u"tamsel.gz");
    SetWindowTextW(GetDlgItem(d, 107), u"miniroot.fs");
    SendDlgItemMessageW(d, 103, BM_SETCHECK, BST_CHECKED, 0);
    SendDlgItemMessageW(d, 152, BM_SETCHECK, BST_CHECKED, 0);
    EnableWindow(GetDlgItem(d, 154), FALSE);
    SetFocus(GetDlgItem(d, 1003));
    screenshot("dialog_filled");
    // The focused edit shows its caret: some black pixel inside it.
    RECT r = ws.screenRect(GetDlgItem(d, 1003));
    bool black = false;
    for (int x = r.left + 1; x < r.right - 1; ++x)
        black |= pixel(x, (r.top + r.bottom) / 2) == Rgb{0, 0, 0};
    EXPECT_TRUE(black);
}

}  // namespace
}  // namespace windows_test

namespace windows_test {
namespace {

LRESULT plainProcedure(HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcW(w, m, wp, lp); }

TEST(PaintingDepths, EachDepthIsWrittenAsTheScreenSettingSays) {
    struct Case {
        const char* name;
        int bits;
        std::vector<std::uint8_t> navy, grey;  // the bytes of one pixel (4 bits: the low nibble)
    };
    const Case cases[] = {
        {"16 bits, RGB565", 16, {0x10, 0x00}, {0x18, 0xC6}},
        {"24 bits, blue green red", 24, {0x80, 0x00, 0x00}, {0xC0, 0xC0, 0xC0}},
        {"32 bits, 0x00RRGGBB", 32, {0x80, 0x00, 0x00, 0x00}, {0xC0, 0xC0, 0xC0, 0x00}},
        {"8 bits, 3-3-2", 8, {0x02}, {0xDB}},
        {"4 bits, grey", 4, {0x00}, {0x0C}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DeviceSettings settings;
        settings.bitsPerPixel = c.bits;
        testing_support::TestDevice device(settings);
        WNDCLASSW cls{};
        cls.lpfnWndProc = plainProcedure;
        cls.lpszClassName = u"Plain";
        RegisterClassW(&cls);
        HWND main = CreateWindowExW(0, u"Plain", u"", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                    nullptr, nullptr, nullptr, nullptr);
        HWND bar = CreateWindowExW(WS_EX_CLIENTEDGE, u"msctls_progress32", u"", WS_CHILD | WS_VISIBLE, 10, 10, 100, 20, main,
                                   nullptr, nullptr, nullptr);
        SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 2));
        SendMessageW(bar, PBM_SETPOS, 1, 0);
        device->windows().paint(true);
        sim::FrameBuffer f = device->windows().frame();
        ASSERT_NE(f.pixels, nullptr);
        EXPECT_EQ(f.lineBytes, (640 * c.bits + 7) / 8);
        auto at = [&](int x, int y) {
            std::vector<std::uint8_t> bytes;
            if (c.bits == 4) {
                std::uint8_t b = f.pixels[y * f.lineBytes + x / 2];
                bytes.push_back((x & 1) ? b >> 4 : b & 0x0F);
            } else {
                for (int i = 0; i < c.bits / 8; ++i) bytes.push_back(f.pixels[y * f.lineBytes + x * (c.bits / 8) + i]);
            }
            return bytes;
        };
        EXPECT_EQ(at(20, 20), c.navy);  // filled half
        EXPECT_EQ(at(100, 20), c.grey);
        EXPECT_EQ(at(13, 20), c.navy);  // an odd pixel, for the 4-bit packing
    }
}

}  // namespace
}  // namespace windows_test
