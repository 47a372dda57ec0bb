// The dialog template reader over templates compiled by windres: every field read back,
// and no truncated or corrupted template accepted.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/resources/dialog_template.h"
#include "sim/resources/resource_file.h"
#include "support/test_data.h"

namespace {

using sim::DialogItemTemplate;
using sim::DialogTemplate;
using sim::NameOrOrdinal;

struct ExpectedItem {
    std::uint16_t id;
    NameOrOrdinal windowClass;
    NameOrOrdinal text;
    std::uint32_t style;
    std::int16_t x, y, cx, cy;
};

struct DialogCase {
    const char* name;
    std::uint32_t style;
    std::int16_t x, y, cx, cy;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::u16string title;
    bool hasFont;
    std::uint16_t pointSize;
    std::u16string typeface;
    std::vector<ExpectedItem> items;
};

NameOrOrdinal ordinal(std::uint16_t value) { return {value, {}}; }
NameOrOrdinal named(std::u16string text) { return {0, std::move(text)}; }

// windres stores string class names, menus and window classes in capitals, and a
// caption brings WS_CAPTION (0x00C00000) with it.
const DialogCase dialogCases[] = {
    {"Plain", 0x40000000, 0, 0, 0, 0, {}, {}, u"", false, 0, u"",
     {{1001, ordinal(0x85), named(u""), 0x50A10042, 5, 5, 70, 80},
      {101, ordinal(0x80), named(u"wd"), 0x50000009, 10, 40, 22, 10},
      {107, ordinal(0x81), named(u""), 0x50810080, 10, 64, 100, 12},
      {0xFFFF, ordinal(0x82), named(u"Extra Kernel Options:"), 0x50020000, 5, 62, 80, 12},
      {9, ordinal(0x83), named(u""), 0x50000000, 0, 0, 1, 1},
      {10, ordinal(0x84), named(u""), 0x50000000, 0, 0, 1, 1},
      {4, named(u"MSCTLS_PROGRESS32"), named(u""), 0x50000001, 1, 2, 3, 4},
      {11, ordinal(0x82), ordinal(7), 0x50000003, 1, 2, 3, 4}}},
    {"Fonted", 0x50C00040, 3, 4, 100, 50, named(u"COMMANDS"), named(u"FRAME"), u"Hello, \uFF92\uFF93\uFF98", true, 8,
     u"Tahoma", {{5, named(u"CUSTOM"), named(u"x"), 0x50000000, 1, -2, 300, 4}}},
    {"Empty", 0x40000000, 0, 0, 20, 10, {}, {}, u"", false, 0, u"", {}},
};

class DialogTemplateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bytes_ = new std::string(testing_support::readHostFile(QUORVEL_TEST_DIALOGS_RES));
        resources_ = new sim::ResourceFile;
        ASSERT_TRUE(resources_->load(bytes_->data(), bytes_->size()));
    }
    static void TearDownTestSuite() {
        delete resources_;
        delete bytes_;
    }

    // The template's bytes, copied to a buffer of exactly their size.
    static std::vector<std::uint8_t> templateBytes(const char* name) {
        std::u16string wide(name, name + std::strlen(name));
        const sim::ResourceEntry* entry = resources_->find(sim::RESOURCE_DIALOG, wide);
        if (!entry) ADD_FAILURE() << "no dialog " << name;
        return entry ? std::vector<std::uint8_t>(entry->data, entry->data + entry->size) : std::vector<std::uint8_t>{};
    }

    static std::string* bytes_;
    static sim::ResourceFile* resources_;
};
std::string* DialogTemplateTest::bytes_ = nullptr;
sim::ResourceFile* DialogTemplateTest::resources_ = nullptr;

void expectSame(const NameOrOrdinal& actual, const NameOrOrdinal& expected, const char* what) {
    EXPECT_EQ(actual.ordinal, expected.ordinal) << what;
    EXPECT_EQ(actual.name, expected.name) << what;
}

TEST_F(DialogTemplateTest, ReadsEveryFieldWindresWrote) {
    for (const DialogCase& c : dialogCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = templateBytes(c.name);
        DialogTemplate dialog;
        ASSERT_TRUE(sim::parseDialogTemplate(bytes.data(), bytes.size(), dialog));
        EXPECT_EQ(dialog.style, c.style);
        EXPECT_EQ(dialog.exStyle, 0u);
        EXPECT_EQ(dialog.x, c.x);
        EXPECT_EQ(dialog.y, c.y);
        EXPECT_EQ(dialog.cx, c.cx);
        EXPECT_EQ(dialog.cy, c.cy);
        expectSame(dialog.menu, c.menu, "menu");
        expectSame(dialog.windowClass, c.windowClass, "class");
        EXPECT_EQ(dialog.title, c.title);
        EXPECT_EQ(dialog.hasFont, c.hasFont);
        EXPECT_EQ(dialog.pointSize, c.pointSize);
        EXPECT_EQ(dialog.typeface, c.typeface);
        ASSERT_EQ(dialog.items.size(), c.items.size());
        for (std::size_t i = 0; i < c.items.size(); ++i) {
            SCOPED_TRACE("item " + std::to_string(i));
            const DialogItemTemplate& item = dialog.items[i];
            const ExpectedItem& expected = c.items[i];
            EXPECT_EQ(item.id, expected.id);
            expectSame(item.windowClass, expected.windowClass, "class");
            expectSame(item.text, expected.text, "text");
            EXPECT_EQ(item.style, expected.style);
            EXPECT_EQ(item.exStyle, 0u);
            EXPECT_EQ(item.x, expected.x);
            EXPECT_EQ(item.y, expected.y);
            EXPECT_EQ(item.cx, expected.cx);
            EXPECT_EQ(item.cy, expected.cy);
            EXPECT_TRUE(item.creationData.empty());
        }
    }
}

// Each template cut anywhere short of its end, in a buffer that ends there too.
TEST_F(DialogTemplateTest, RefusesEveryTruncation) {
    for (const DialogCase& c : dialogCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> whole = templateBytes(c.name);
        for (std::size_t size = 0; size < whole.size(); ++size) {
            std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
            DialogTemplate dialog;
            EXPECT_FALSE(sim::parseDialogTemplate(cut.data(), cut.size(), dialog)) << size << " bytes";
        }
    }
}

TEST_F(DialogTemplateTest, RefusesMalformedTemplates) {
    constexpr std::size_t countOffset = 8;  // after style and extended style
    struct Case {
        const char* name;
        const char* dialog;
        void (*corrupt)(std::vector<std::uint8_t>&);
    };
    const Case cases[] = {
        {"extended form", "Extended", [](std::vector<std::uint8_t>&) {}},
        {"more items than the bytes hold", "Plain", [](std::vector<std::uint8_t>& b) { b[countOffset] = 9; }},
        {"item count far past the bytes", "Plain",
         [](std::vector<std::uint8_t>& b) { b[countOffset] = 0xFF, b[countOffset + 1] = 0xFF; }},
        {"creation data past the end", "Empty",
         [](std::vector<std::uint8_t>& b) {
             // One item whose size word claims two bytes that are not there.
             b[countOffset] = 1;
             const std::uint8_t item[] = {0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 2, 0};
             b.insert(b.end(), std::begin(item), std::end(item));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = templateBytes(c.dialog);
        c.corrupt(bytes);
        DialogTemplate dialog;
        EXPECT_FALSE(sim::parseDialogTemplate(bytes.data(), bytes.size(), dialog));
    }
    DialogTemplate dialog;
    EXPECT_FALSE(sim::parseDialogTemplate(nullptr, 100, dialog));
}

TEST_F(DialogTemplateTest, KeepsAnItemsCreationData) {
    std::vector<std::uint8_t> bytes = templateBytes("Empty");
    bytes[8] = 1;
    // Aligned item: style, extended style, x y cx cy, id 1, class 0x80, empty text, 3 bytes.
    const std::uint8_t item[] = {0, 0, 0, 0x50, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 1,
                                 0, 0xFF, 0xFF, 0x80, 0, 0, 0, 3, 0, 0xAA, 0xBB, 0xCC};
    bytes.resize((bytes.size() + 3) / 4 * 4);
    bytes.insert(bytes.end(), std::begin(item), std::end(item));
    DialogTemplate dialog;
    ASSERT_TRUE(sim::parseDialogTemplate(bytes.data(), bytes.size(), dialog));
    ASSERT_EQ(dialog.items.size(), 1u);
    EXPECT_EQ(dialog.items[0].creationData, (std::vector<std::uint8_t>{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(sim::predefinedClassName(dialog.items[0].windowClass.ordinal), u"BUTTON");
}

}  // namespace
