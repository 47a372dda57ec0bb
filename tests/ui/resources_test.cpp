// The program's resources as the running module finds them: the three tab-page
// dialogs item by item, the string table, the tab images and the icon, and the
// failures of the resource calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/coredll.h"
#include "platform/host/resources.h"
#include "sim/resources/dialog_template.h"
#include "sim/resources/dib_image.h"
#include "support/device.h"
#include "support/test_data.h"

namespace {

using namespace ce;

constexpr std::uint16_t BUTTON = 0x80, EDIT = 0x81, STATIC = 0x82, COMBOBOX = 0x85;

struct Item {
    std::uint16_t id;
    std::uint16_t windowClass;
    std::u16string text;
    std::uint32_t style;
    std::int16_t x, y, cx, cy;
};

struct Dialog {
    const char16_t* name;
    std::vector<Item> items;
};

// The tab pages, control by control in template order.
const Dialog dialogs[] = {
    {u"WMain",
     {{1001, COMBOBOX, u"", 0x50A10042, 5, 5, 70, 80},
      {1003, EDIT, u"", 0x50810080, 75, 5, 40, 12},
      {1002, COMBOBOX, u"", 0x50A10042, 5, 20, 110, 64},
      {101, BUTTON, u"wd", 0x50000009, 10, 40, 22, 10},
      {102, BUTTON, u"sd", 0x50000009, 35, 40, 22, 10},
      {103, BUTTON, u"md", 0x50000009, 60, 40, 22, 10},
      {104, BUTTON, u"nfs", 0x50000009, 85, 40, 22, 10},
      {105, BUTTON, u"dk", 0x50000009, 10, 51, 22, 10},
      {106, BUTTON, u"ld", 0x50000009, 35, 51, 22, 10},
      {107, EDIT, u"", 0x50810080, 10, 64, 100, 12},
      {100, BUTTON, u"root file system", 0x50000007, 5, 31, 110, 48},
      {152, BUTTON, u"boot verbosely", 0x50010003, 5, 59, 120, 9},
      {151, BUTTON, u"boot to single user", 0x50010003, 5, 68, 120, 9},
      {150, BUTTON, u"ask for file name to boot from", 0x50010003, 5, 77, 120, 9},
      {155, BUTTON, u"break into kernel debugger", 0x50010003, 5, 86, 120, 9},
      {153, BUTTON, u"serial console", 0x50010003, 5, 95, 55, 9},
      {154, COMBOBOX, u"", 0x50A10042, 65, 93, 50, 40}}},
    {u"WOption",
     {{200, BUTTON, u"Auto Boot", 0x50010003, 5, 0, 50, 12},
      {2000, EDIT, u"", 0x50810000, 55, 0, 24, 15},
      {201, BUTTON, u"Reverse Video", 0x50010003, 5, 14, 80, 12},
      {202, BUTTON, u"Pause Before Boot", 0x50010003, 5, 26, 80, 12},
      {203, BUTTON, u"Load Debug Info", 0x50010003, 5, 38, 80, 12},
      {205, BUTTON, u"Safety Message", 0x50010003, 5, 50, 80, 12},
      {65535, STATIC, u"Extra Kernel Options:", 0x50020000, 5, 62, 80, 12},
      {206, EDIT, u"", 0x50810080, 5, 74, 120, 12}}},
    {u"WConsole",
     {{307, BUTTON, u"", 0x50010003, 5, 0, 10, 10},
      {306, BUTTON, u"", 0x50010003, 15, 0, 10, 10},
      {305, BUTTON, u"", 0x50010003, 25, 0, 10, 10},
      {304, BUTTON, u"", 0x50010003, 35, 0, 10, 10},
      {303, BUTTON, u"", 0x50010003, 45, 0, 10, 10},
      {302, BUTTON, u"", 0x50010003, 55, 0, 10, 10},
      {301, BUTTON, u"", 0x50010003, 65, 0, 10, 10},
      {300, BUTTON, u"", 0x50010003, 75, 0, 10, 10},
      {310, BUTTON, u"a", 0x50010000, 85, 0, 10, 10},
      {311, BUTTON, u"b", 0x50010000, 95, 0, 10, 10},
      {312, BUTTON, u"c", 0x50010000, 105, 0, 10, 10},
      {313, BUTTON, u"d", 0x50010000, 115, 0, 10, 10},
      {321, BUTTON, u"save to file", 0x50010003, 5, 10, 120, 10},
      {322, EDIT, u"", 0x50810080, 5, 20, 120, 12},
      {320, EDIT, u"", 0x50A110C4, 0, 0, 0, 0}}},
};

class ResourcesTest : public ::testing::Test {
protected:
    testing_support::TestDevice device;
    HINSTANCE module = GetModuleHandleW(nullptr);
};

TEST_F(ResourcesTest, TabPageDialogsHoldEveryControlInTemplateOrder) {
    for (const Dialog& expected : dialogs) {
        SCOPED_TRACE(std::string(expected.name, expected.name + std::char_traits<char16_t>::length(expected.name)));
        HRSRC found = FindResourceW(module, expected.name, RT_DIALOG);
        ASSERT_NE(found, nullptr);
        const void* bytes = LockResource(LoadResource(module, found));
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(host::resourceBytesFrom(bytes), SizeofResource(module, found));
        sim::DialogTemplate dialog;
        ASSERT_TRUE(sim::parseDialogTemplate(bytes, SizeofResource(module, found), dialog));
        // A hidden child without caption, font, menu or class of its own, and no size.
        EXPECT_EQ(dialog.style, 0x40000000u);
        EXPECT_EQ(dialog.exStyle, 0u);
        EXPECT_FALSE(dialog.hasFont);
        EXPECT_EQ(dialog.menu.ordinal, 0);
        EXPECT_EQ(dialog.menu.name, u"");
        EXPECT_EQ(dialog.windowClass.ordinal, 0);
        EXPECT_EQ(dialog.windowClass.name, u"");
        EXPECT_EQ(dialog.title, u"");
        EXPECT_EQ(dialog.x | dialog.y | dialog.cx | dialog.cy, 0);
        ASSERT_EQ(dialog.items.size(), expected.items.size());
        for (std::size_t i = 0; i < expected.items.size(); ++i) {
            const Item& want = expected.items[i];
            const sim::DialogItemTemplate& item = dialog.items[i];
            SCOPED_TRACE("control " + std::to_string(want.id));
            EXPECT_EQ(item.id, want.id);
            EXPECT_EQ(item.windowClass.ordinal, want.windowClass);
            EXPECT_EQ(item.text.ordinal, 0);
            EXPECT_EQ(item.text.name, want.text);
            EXPECT_EQ(item.style, want.style);
            EXPECT_EQ(item.exStyle, 0u);
            EXPECT_EQ(item.x, want.x);
            EXPECT_EQ(item.y, want.y);
            EXPECT_EQ(item.cx, want.cx);
            EXPECT_EQ(item.cy, want.cy);
            EXPECT_TRUE(item.creationData.empty());
        }
    }
}

TEST_F(ResourcesTest, StringTableHoldsTheNameAndTheKernelDirectories) {
    const struct {
        UINT id;
        std::u16string text;
    } strings[] = {
        {10000, u"quorvel"},
        {10002, u"QUORVEL"},
        {10004, u"/"},
        {10006, u"2:/"},
        {10008, u"SMC1:/"},
        {10010, u"\\"},
        {10012, u"\\My Documents\\"},
        {10014, u"\\Storage Card\\"},
        {10016, u"\\Storage Card1\\"},
        {10018, u"\\Storage Card2\\"},
        {10020, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E\\"},
        {10022, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E1\\"},
        {10024, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E2\\"},
        {10026, u"\\Multimedia Card\\"},
        {10028, u"\\SD-MMC Card\\"},
        {10030, u"\\miniSD\uFF76\uFF70\uFF84\uFF9E\\"},
        {10032, u"\\microSD\u30AB\u30FC\u30C9\\"},
        {10034, u"user defined"},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(s.id);
        // The size-0 form: the resource's own text, terminated.
        LPCWSTR text = nullptr;
        EXPECT_EQ(LoadStringW(module, s.id, reinterpret_cast<LPWSTR>(&text), 0), static_cast<int>(s.text.size()));
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::u16string(text), s.text);
        // A copy into a buffer of 260.
        WCHAR buffer[260];
        EXPECT_EQ(LoadStringW(module, s.id, buffer, 260), static_cast<int>(s.text.size()));
        EXPECT_EQ(std::u16string(buffer), s.text);
        // The odd ids between them are not there.
        EXPECT_EQ(LoadStringW(module, s.id + 1, buffer, 260), 0);
        EXPECT_EQ(buffer[0], 0);
    }
}

TEST_F(ResourcesTest, LoadStringCutsTheTextToTheBuffer) {
    WCHAR buffer[8];
    for (WCHAR& unit : buffer) unit = u'#';
    EXPECT_EQ(LoadStringW(module, 10014, buffer, 5), 4);
    EXPECT_EQ(std::u16string(buffer), u"\\Sto");
    EXPECT_EQ(buffer[5], u'#');
    EXPECT_EQ(LoadStringW(module, 10014, buffer, 1), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], u'S');
}

// The tab images as the module carries them, compared with the BMP files drawn for them.
TEST_F(ResourcesTest, TabImagesAre16By36At8BitsPerPixel) {
    const struct {
        const char16_t* name;
        const char* file;
    } images[] = {
        {u"IDI_ZEQMENU_MAIN", "tab_main.bmp"},
        {u"IDI_ZEQMENU_OPTION", "tab_option.bmp"},
        {u"IDI_ZEQMENU_CONSOLE", "tab_console.bmp"},
    };
    for (const auto& image : images) {
        SCOPED_TRACE(image.file);
        HRSRC found = FindResourceW(module, image.name, RT_BITMAP);
        ASSERT_NE(found, nullptr);
        const auto* header = static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
        // biWidth, biHeight and biBitCount of the BITMAPINFOHEADER.
        EXPECT_EQ(header[4] | header[5] << 8, 16);
        EXPECT_EQ(header[8] | header[9] << 8, 36);
        EXPECT_EQ(header[14], 8);

        HBITMAP bitmap = LoadBitmapW(module, image.name);
        ASSERT_NE(bitmap, nullptr);
        const sim::DibImage* loaded = host::imageOf(bitmap);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->width, 16);
        EXPECT_EQ(loaded->height, 36);

        // The file behind its 14-byte file header is what the resource holds.
        std::string file = testing_support::readHostFile(std::string(QUORVEL_SOURCE_DIR "/src/ui/resources/") + image.file);
        sim::DibImage fromFile;
        ASSERT_TRUE(sim::decodeDib(file.data() + 14, file.size() - 14, fromFile));
        EXPECT_EQ(loaded->pixels, fromFile.pixels);
        // A picture on the tab's grey, not a blank.
        EXPECT_EQ(loaded->pixels.front(), 0xFFC0C0C0u);
        std::size_t drawn = 0;
        for (std::uint32_t pixel : loaded->pixels) drawn += pixel != 0xFFC0C0C0u;
        EXPECT_GT(drawn, 40u);
        EXPECT_TRUE(CloseHandle(bitmap));
    }
}

TEST_F(ResourcesTest, IconGroupOneGivesTheLargeIconWithItsMask) {
    HICON icon = LoadIconW(module, MAKEINTRESOURCEW(1));
    ASSERT_NE(icon, nullptr);
    const sim::DibImage* image = host::imageOf(icon);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 32);
    EXPECT_EQ(image->height, 32);
    EXPECT_EQ(image->pixels[0] >> 24, 0u);                  // a corner outside the picture
    EXPECT_EQ(image->pixels[16 * 32 + 16] >> 24, 0xFFu);   // the middle of it
    EXPECT_EQ(LoadIconW(module, u"#1") != nullptr, true);
}

TEST_F(ResourcesTest, MissingResourcesGiveNullAndTheReason) {
    HMODULE other = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x30000));
    const struct {
        const char* name;
        HMODULE module;
        LPCWSTR resource;
        LPCWSTR type;
        bool found;
        DWORD error;
    } cases[] = {
        {"named in other capitals", nullptr, u"wmain", RT_DIALOG, true, 0},
        {"unknown name", nullptr, u"WNone", RT_DIALOG, false, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"name of another type", nullptr, u"IDI_ZEQMENU_MAIN", RT_DIALOG, false, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"type the module lacks", nullptr, u"WMain", MAKEINTRESOURCEW(9), false, ERROR_RESOURCE_TYPE_NOT_FOUND},
        {"number as text", nullptr, u"#1", RT_GROUP_ICON, true, 0},
        {"number that is not one", nullptr, u"#1x", RT_GROUP_ICON, false, ERROR_RESOURCE_NAME_NOT_FOUND},
        {"another module", other, u"WMain", RT_DIALOG, false, ERROR_RESOURCE_DATA_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        HRSRC found = FindResourceW(c.module ? c.module : module, c.resource, c.type);
        EXPECT_EQ(found != nullptr, c.found);
        if (!c.found) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
    EXPECT_EQ(LoadResource(module, nullptr), nullptr);
    EXPECT_EQ(SizeofResource(module, nullptr), 0u);
    EXPECT_EQ(LoadBitmapW(module, u"IDI_NONE"), nullptr);
    EXPECT_EQ(LoadBitmapW(module, u"WMain"), nullptr);
    EXPECT_EQ(LoadIconW(module, MAKEINTRESOURCEW(2)), nullptr);
    EXPECT_EQ(LoadIconW(other, MAKEINTRESOURCEW(1)), nullptr);
    WCHAR buffer[4] = {u'x', u'x', 0, 0};
    EXPECT_EQ(LoadStringW(module, 9999, buffer, 4), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(host::resourceBytesFrom(buffer), 0u);
}

}  // namespace
