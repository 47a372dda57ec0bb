// Drop-down lists and the multi-line edit scroll as a person drives them: taps on
// the scroll bar's arrows, track and thumb, keys, the wheel; and whatever comes in,
// the selection and the first shown line stay within the items and lines there are.
#include <gtest/gtest.h>

#include <string>

#include "screen_fixture.h"
#include "sim/windows/controls.h"

namespace {

using namespace windows_test;

class ScrollingTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        d = dialog(u"Boot");
        ASSERT_NE(d, nullptr);
        combo = GetDlgItem(d, 1002);
        for (int i = 0; i < 19; ++i) {
            std::u16string item = u"Platform " + std::u16string(1, static_cast<char16_t>(u'A' + i));
            if (i == 15) item += u" with a name far wider than the list it stands in";
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        }
    }

    sim::ComboState& state() { return *sim::stateOf<sim::ComboState>(ws.window(combo)); }
    sim::DropList list() { return sim::dropList(ws, combo); }
    void open() {
        RECT r = ws.screenRect(combo);
        tapAt(r.right - 3, (r.top + r.bottom) / 2);  // the arrow button
        ASSERT_TRUE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
    }
    sim::ScrollBar bar() {
        sim::DropList l = list();
        return sim::ScrollBar(l.bar, l.bar.right - l.bar.left, l.range);
    }
    void tapIn(const RECT& r) { tapAt((r.left + r.right) / 2, (r.top + r.bottom) / 2); }
    // The list's invariants, whatever was done to it.
    void expectInRange() {
        sim::DropList l = list();
        EXPECT_GE(state().firstItem, 0);
        EXPECT_LE(state().firstItem, l.range.last());
        EXPECT_LT(state().selection, static_cast<int>(state().items.size()));
    }

    HWND d = nullptr;
    HWND combo = nullptr;
};

TEST_F(ScrollingTest, AListOpensWithTheSelectionShownAndClampedToItsItems) {
    open();
    sim::DropList l = list();
    ASSERT_TRUE(l.scrolls);
    ASSERT_LT(l.range.page, 19);
    EXPECT_EQ(state().firstItem, 0);  // nothing chosen: from the top
    tapAt(1, 1);
    // The last item chosen: the list ends with it, not one item over a blank box.
    SendMessageW(combo, CB_SETCURSEL, 18, 0);
    open();
    EXPECT_EQ(state().firstItem, 19 - l.range.page);
    SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
    SendMessageW(combo, CB_SETCURSEL, 3, 0);
    open();
    EXPECT_EQ(state().firstItem, 3);
}

TEST_F(ScrollingTest, EveryItemCanBeChosenByTapsAlone) {
    SendMessageW(combo, CB_SETCURSEL, 9, 0);
    for (int want = 0; want < 19; ++want) {
        SCOPED_TRACE(want);
        open();
        // Up or down arrow taps until the item shows, then a tap on it.
        for (int guard = 0; guard < 40; ++guard) {
            int first = state().firstItem, page = list().range.page;
            if (want >= first && want < first + page) break;
            tapIn(want < first ? bar().up : bar().down);
        }
        sim::DropList l = list();
        int y = l.items.top + (want - state().firstItem) * sim::comboItemHeight() + 2;
        tapAt(l.items.left + 10, y);
        EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), want);
        EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
        expectInRange();
    }
}

TEST_F(ScrollingTest, TheTrackPagesAndTheThumbDrags) {
    open();
    int page = list().range.page;
    tapIn(bar().down);
    EXPECT_EQ(state().firstItem, 1);
    RECT thumb = bar().thumb;
    tapAt((bar().bar.left + bar().bar.right) / 2, thumb.bottom + 1);  // the track below the thumb
    EXPECT_EQ(state().firstItem, 1 + page);
    tapAt((bar().bar.left + bar().bar.right) / 2, bar().thumb.top - 1);  // above it
    EXPECT_EQ(state().firstItem, 1);
    // The thumb dragged to the bottom and past it: the list's end, and no further.
    thumb = bar().thumb;
    int x = (thumb.left + thumb.right) / 2;
    ws.script({{sim::InputEvent::TapDown, x, thumb.top + 1},
               {sim::InputEvent::TapMove, x, bar().down.top},
               {sim::InputEvent::TapMove, x, bar().down.bottom + 200},
               {sim::InputEvent::TapUp, x, bar().down.bottom + 200}});
    ws.pump();
    EXPECT_EQ(state().firstItem, list().range.last());
    EXPECT_TRUE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));  // a drag chooses nothing
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    // The wheel: three items a notch, clamped at the top.
    ws.script({{sim::InputEvent::Wheel, 5, 5, 120}});
    ws.pump();
    EXPECT_EQ(state().firstItem, list().range.last() - 3);
    ws.script({{sim::InputEvent::Wheel, 5, 5, 120 * 50}});
    ws.pump();
    EXPECT_EQ(state().firstItem, 0);
}

TEST_F(ScrollingTest, KeysKeepTheSelectionInView) {
    SetFocus(combo);
    open();
    const struct {
        int key;
        int selection;
    } steps[] = {{VK_DOWN, 0}, {VK_END, 18}, {VK_PRIOR, -1}, {VK_HOME, 0}, {VK_NEXT, -1}, {VK_NEXT, -1},
                 {VK_UP, -1},  {VK_NEXT, -1}, {VK_NEXT, -1}, {VK_NEXT, 18}, {VK_DOWN, 18}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.key);
        press(step.key);
        int selection = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
        if (step.selection >= 0) {
            EXPECT_EQ(selection, step.selection);
        }
        EXPECT_GE(selection, state().firstItem);
        EXPECT_LT(selection, state().firstItem + list().range.page);
        expectInRange();
    }
}

TEST_F(ScrollingTest, ItemsGoingAwayNeverLeaveTheListPastItsEnd) {
    SendMessageW(combo, CB_SETCURSEL, 18, 0);
    open();
    while (SendMessageW(combo, CB_GETCOUNT, 0, 0) > 0) {
        SendMessageW(combo, CB_DELETESTRING, 0, 0);
        expectInRange();
        ws.paint(true);
    }
    SetFocus(combo);
    for (int key : {VK_DOWN, VK_NEXT, VK_END, VK_HOME, VK_PRIOR, VK_UP}) press(key);  // nothing to move to
    EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), CB_ERR);
    ws.script({{sim::InputEvent::Wheel, 5, 5, -120}});
    ws.pump();
    expectInRange();
    tapIn(list().list);  // a tap on the empty list only closes it
    EXPECT_FALSE(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
}

TEST_F(ScrollingTest, LongItemsEndAtTheListsBorder) {
    SendMessageW(combo, CB_SETCURSEL, 15, 0);
    open();
    ws.paint(true);
    sim::DropList l = list();
    // Beside the chosen (navy) long item: the scroll bar's grey, then the black border.
    int y = l.items.top + (15 - state().firstItem) * sim::comboItemHeight() + sim::comboItemHeight() / 2;
    EXPECT_EQ(pixel(l.items.right - 2, y), NAVY_PIXEL);
    EXPECT_NE(pixel(l.bar.left + 1, (bar().thumb.top + bar().thumb.bottom) / 2), NAVY_PIXEL);
    EXPECT_EQ(pixel(l.list.right - 1, y), (Rgb{0, 0, 0}));
    EXPECT_NE(pixel(l.list.right + 1, y), NAVY_PIXEL);
}

class LogViewTest : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        d = dialog(u"Options");
        ASSERT_NE(d, nullptr);
        log = GetDlgItem(d, 320);
        MoveWindow(log, 220, 10, 160, 100, TRUE);  // clear of the other controls
        std::u16string text;
        for (int i = 0; i < 40; ++i) text += u"line " + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) + u"\r\n";
        text += u"last";
        SetWindowTextW(log, text.c_str());
    }
    sim::ScrollRange range() {
        return sim::editLineRange(*ws.window(log), *sim::stateOf<sim::EditState>(ws.window(log)));
    }
    sim::ScrollBar bar() {
        RECT area;
        EXPECT_TRUE(sim::editScrollBar(*ws.window(log), area));
        RECT r = ws.screenRect(log);
        POINT o = sim::clientOrigin(*ws.window(log));
        OffsetRect(&area, r.left + o.x, r.top + o.y);
        return sim::ScrollBar(area, area.right - area.left, range());
    }
    static void OffsetRect(RECT* r, int x, int y) {
        r->left += x;
        r->right += x;
        r->top += y;
        r->bottom += y;
    }
    int first() { return static_cast<int>(SendMessageW(log, EM_GETFIRSTVISIBLELINE, 0, 0)); }
    void tapIn(const RECT& r) { tapAt((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

    HWND d = nullptr;
    HWND log = nullptr;
};

TEST_F(LogViewTest, TheScrollBarScrollsByLinesPagesAndItsThumb) {
    sim::ScrollRange r = range();
    ASSERT_EQ(r.total, 41);
    ASSERT_GT(r.page, 1);
    ASSERT_TRUE(bar().hasThumb);
    // The thumb's share of the track is the share of the lines shown.
    int track = bar().down.top - bar().up.bottom;
    EXPECT_NEAR(bar().thumb.bottom - bar().thumb.top, track * r.page / r.total, 1);
    tapIn(bar().down);
    EXPECT_EQ(first(), 1);
    tapIn(bar().up);
    tapIn(bar().up);
    EXPECT_EQ(first(), 0);
    tapAt((bar().bar.left + bar().bar.right) / 2, bar().thumb.bottom + 1);
    EXPECT_EQ(first(), r.page);
    RECT thumb = bar().thumb;
    int x = (thumb.left + thumb.right) / 2;
    ws.script({{sim::InputEvent::TapDown, x, thumb.top},
               {sim::InputEvent::TapMove, x, 10000},
               {sim::InputEvent::TapUp, x, 10000}});
    ws.pump();
    EXPECT_EQ(first(), r.last());
    ws.script({{sim::InputEvent::Wheel, 0, 0, 0}});  // no notch: nothing moves
    ws.pump();
    EXPECT_EQ(first(), r.last());
    RECT area = ws.screenRect(log);
    ASSERT_EQ(ws.windowAt(area.left + 5, area.top + 5), log);
    ws.script({{sim::InputEvent::Wheel, area.left + 5, area.top + 5, 2 * 120}});
    ws.pump();
    EXPECT_EQ(first(), r.last() - 6);
    // Taps on the bar leave the focus where it was.
    EXPECT_NE(GetFocus(), log);
}

TEST_F(LogViewTest, ScrollRequestsStayWithinTheLines) {
    const struct {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        int first;  // -1: the last position
    } steps[] = {
        {EM_LINESCROLL, 0, 1000, -1}, {EM_LINESCROLL, 0, -1000, 0}, {WM_VSCROLL, SB_BOTTOM, 0, -1},
        {WM_VSCROLL, SB_LINEDOWN, 0, -1}, {WM_VSCROLL, SB_TOP, 0, 0}, {WM_VSCROLL, SB_LINEUP, 0, 0},
        {WM_VSCROLL, SB_PAGEDOWN, 0, -2},
    };
    for (const auto& step : steps) {
        SendMessageW(log, step.message, step.wParam, step.lParam);
        int want = step.first == -1 ? range().last() : step.first == -2 ? range().page : step.first;
        EXPECT_EQ(first(), want) << step.message << " " << step.wParam << " " << step.lParam;
    }
    // Text cut short under a view that was far down: the view comes back within it.
    SendMessageW(log, WM_VSCROLL, SB_BOTTOM, 0);
    SendMessageW(log, EM_SETSEL, 0, -1);
    SendMessageW(log, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(u"one line"));
    EXPECT_EQ(first(), 0);
    EXPECT_EQ(range().total, 1);
}

}  // namespace
