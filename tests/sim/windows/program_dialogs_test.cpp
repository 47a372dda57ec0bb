// The program's own three dialogs, read from the module's resources by the window
// calls as the tab pages read them: every control lands at the pixel rectangle its
// dialog units give, with its class.
#include "screen_fixture.h"

#include "platform/resources.h"

namespace windows_test {
namespace {

using ProgramDialogsTest = ScreenTest;

int units(int value, int base, int divisor) { return (value * base + divisor / 2) / divisor; }

struct Item {
    int id;
    const char16_t* cls;
    int x, y, cx, cy;
};

struct Page {
    const char16_t* name;
    std::vector<Item> items;
};

TEST_F(ProgramDialogsTest, ControlsLandWhereTheirDialogUnitsSay) {
    const Page pages[] = {
        {u"WMain",
         {{1001, u"COMBOBOX", 5, 5, 70, 12}, {1003, u"EDIT", 75, 5, 40, 12},   {1002, u"COMBOBOX", 5, 20, 110, 12},
          {101, u"BUTTON", 10, 40, 22, 10},   {102, u"BUTTON", 35, 40, 22, 10}, {103, u"BUTTON", 60, 40, 22, 10},
          {104, u"BUTTON", 85, 40, 22, 10},   {105, u"BUTTON", 10, 51, 22, 10}, {106, u"BUTTON", 35, 51, 22, 10},
          {107, u"EDIT", 10, 64, 100, 12},    {100, u"BUTTON", 5, 31, 110, 48}, {152, u"BUTTON", 5, 59, 120, 9},
          {151, u"BUTTON", 5, 68, 120, 9},    {150, u"BUTTON", 5, 77, 120, 9},  {155, u"BUTTON", 5, 86, 120, 9},
          {153, u"BUTTON", 5, 95, 55, 9},     {154, u"COMBOBOX", 65, 93, 50, 12}}},
        {u"WOption",
         {{200, u"BUTTON", 5, 0, 50, 12},
          {2000, u"EDIT", 55, 0, 24, 15},
          {201, u"BUTTON", 5, 14, 80, 12},
          {202, u"BUTTON", 5, 26, 80, 12},
          {203, u"BUTTON", 5, 38, 80, 12},
          {205, u"BUTTON", 5, 50, 80, 12},
          {0xFFFF, u"STATIC", 5, 62, 80, 12},
          {206, u"EDIT", 5, 74, 120, 12}}},
        {u"WConsole",
         {{307, u"BUTTON", 5, 0, 10, 10},
          {300, u"BUTTON", 75, 0, 10, 10},
          {310, u"BUTTON", 85, 0, 10, 10},
          {313, u"BUTTON", 115, 0, 10, 10},
          {321, u"BUTTON", 5, 10, 120, 10},
          {322, u"EDIT", 5, 20, 120, 12},
          {320, u"EDIT", 0, 0, 0, 0}}},
    };
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (const Page& page : pages) {
        SCOPED_TRACE(std::string(page.name, page.name + std::char_traits<char16_t>::length(page.name)));
        HRSRC found = FindResourceW(instance, page.name, RT_DIALOG);
        ASSERT_NE(found, nullptr);
        HWND d = CreateDialogIndirectParamW(instance, LoadResource(instance, found), main, recordingDialogProcedure, 0);
        ASSERT_NE(d, nullptr);
        EXPECT_FALSE(IsWindowVisible(d));  // WS_CHILD only: created hidden
        RECT origin = ws.screenRect(d);
        for (const Item& item : page.items) {
            SCOPED_TRACE(item.id);
            HWND control = GetDlgItem(d, item.id);
            ASSERT_NE(control, nullptr);
            EXPECT_EQ(ws.window(control)->className, item.cls);
            RECT r = ws.screenRect(control);
            EXPECT_EQ(r.left - origin.left, units(item.x, ws.baseUnitX(), 4));
            EXPECT_EQ(r.top - origin.top, units(item.y, ws.baseUnitY(), 8));
            EXPECT_EQ(r.right - r.left, units(item.cx, ws.baseUnitX(), 4));
            EXPECT_EQ(r.bottom - r.top, units(item.cy, ws.baseUnitY(), 8));
        }
        MoveWindow(d, 30, 0, 610, 240, TRUE);
        ShowWindow(d, SW_SHOW);
        std::string name(page.name, page.name + std::char_traits<char16_t>::length(page.name));
        screenshot("program_" + name);
        DestroyWindow(d);
    }
}

TEST_F(ProgramDialogsTest, TabImagesComeFromTheBitmapResources) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HIMAGELIST list = ImageList_Create(16, 36, 0, 3, 0);
    for (const char16_t* name : {u"IDI_ZEQMENU_MAIN", u"IDI_ZEQMENU_OPTION", u"IDI_ZEQMENU_CONSOLE"}) {
        HBITMAP bitmap = LoadBitmapW(instance, name);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_GE(ImageList_Add(list, bitmap, nullptr), 0);
        EXPECT_TRUE(DeleteObject(bitmap));
    }
    const sim::ImageList* images = ws.imageList(list);
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(images->images.size(), 3u);
    HWND tabs = CreateWindowExW(0, u"SysTabControl32", u"", 0x54010280, 0, 26, 640, 214, main, reinterpret_cast<HMENU>(7),
                                nullptr, nullptr);
    SendMessageW(tabs, TCM_SETPADDING, 0, MAKELPARAM(1, 1));
    SendMessageW(tabs, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(list));
    for (int i = 0; i < 3; ++i) {
        TCITEMW item{};
        item.mask = TCIF_IMAGE | TCIF_PARAM;
        item.iImage = i;
        SendMessageW(tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    screenshot("program_tabs");
}

}  // namespace
}  // namespace windows_test
