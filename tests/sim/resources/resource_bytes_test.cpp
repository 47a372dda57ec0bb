// The readers of resource bytes over the program's real .res file, cut short and
// corrupted: each refuses what it cannot read whole and never reads past the bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "sim/resources/dib_image.h"
#include "sim/resources/resource_file.h"
#include "sim/resources/string_table.h"
#include "support/test_data.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes moduleBytes() {
    std::string file = testing_support::readHostFile(QUORVEL_RESOURCES_RES);
    return Bytes(file.begin(), file.end());
}

Bytes entryBytes(const sim::ResourceFile& file, std::uint16_t type, std::u16string_view name) {
    const sim::ResourceEntry* entry = file.find(type, name);
    if (!entry) {
        ADD_FAILURE() << "missing resource";
        return {};
    }
    return Bytes(entry->data, entry->data + entry->size);
}

void put32(Bytes& bytes, std::size_t at, std::uint32_t value) { std::memcpy(&bytes[at], &value, 4); }
void put16(Bytes& bytes, std::size_t at, std::uint16_t value) { std::memcpy(&bytes[at], &value, 2); }

// A file cut anywhere either is refused or keeps only entries that lie inside the cut.
TEST(ResourceBytesTest, ResourceFileCutAnywhereKeepsOnlyWholeEntries) {
    Bytes whole = moduleBytes();
    sim::ResourceFile all;
    ASSERT_TRUE(all.load(whole.data(), whole.size()));
    ASSERT_GE(all.entries().size(), 8u);
    for (std::size_t size = 0; size < whole.size(); ++size) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size));
        sim::ResourceFile file;
        if (!file.load(cut.data(), cut.size())) {
            EXPECT_TRUE(file.entries().empty());
            continue;
        }
        ASSERT_LE(file.entries().size(), all.entries().size()) << size;
        for (std::size_t i = 0; i < file.entries().size(); ++i) {
            const sim::ResourceEntry& entry = file.entries()[i];
            EXPECT_LE(entry.data + entry.size, cut.data() + cut.size()) << size;
            EXPECT_EQ(entry.size, all.entries()[i].size) << size;
        }
    }
}

TEST(ResourceBytesTest, ResourceFileRefusesHeadersThatLie) {
    Bytes whole = moduleBytes();
    constexpr std::size_t second = 32;  // the entry after the empty one that opens the file
    const struct {
        const char* name;
        void (*corrupt)(Bytes&);
    } cases[] = {
        {"data size past the end", [](Bytes& b) { put32(b, second, 0xFFFFFFF0u); }},
        {"header size past the end", [](Bytes& b) { put32(b, second + 4, 0x7FFFFFFFu); }},
        {"header size shorter than its fields", [](Bytes& b) { put32(b, second + 4, 8); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = whole;
        c.corrupt(bytes);
        sim::ResourceFile file;
        EXPECT_FALSE(file.load(bytes.data(), bytes.size()));
        EXPECT_TRUE(file.entries().empty());
    }
}

TEST(ResourceBytesTest, StringEntryWhoseLengthsOverrunIsDropped) {
    Bytes whole = moduleBytes();
    sim::ResourceFile file;
    ASSERT_TRUE(file.load(whole.data(), whole.size()));
    sim::StringTable strings;
    ASSERT_TRUE(strings.load(file));
    ASSERT_NE(strings.find(10002), nullptr);

    // Ids 10000 to 10015 are entry 626; make its first string claim more units than remain.
    const sim::ResourceEntry* entry = file.find(sim::RESOURCE_STRING, 626);
    ASSERT_NE(entry, nullptr);
    Bytes bytes = whole;
    std::size_t at = static_cast<std::size_t>(entry->data - whole.data());
    put16(bytes, at, static_cast<std::uint16_t>(entry->size / 2));
    sim::ResourceFile corrupted;
    ASSERT_TRUE(corrupted.load(bytes.data(), bytes.size()));
    EXPECT_FALSE(strings.load(corrupted));
    EXPECT_EQ(strings.find(10000), nullptr);
    EXPECT_EQ(strings.find(10002), nullptr);
    EXPECT_NE(strings.find(10016), nullptr);  // the next entry stands
}

TEST(ResourceBytesTest, BitmapCutOrCorruptedIsRefused) {
    Bytes whole = moduleBytes();
    sim::ResourceFile file;
    ASSERT_TRUE(file.load(whole.data(), whole.size()));
    Bytes bitmap = entryBytes(file, sim::RESOURCE_BITMAP, u"IDI_ZEQMENU_MAIN");
    sim::DibImage image;
    ASSERT_TRUE(sim::decodeDib(bitmap.data(), bitmap.size(), image));
    for (std::size_t size = 0; size < bitmap.size(); ++size) {
        Bytes cut(bitmap.begin(), bitmap.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(sim::decodeDib(cut.data(), cut.size(), image)) << size;
    }
    const struct {
        const char* name;
        void (*corrupt)(Bytes&);
    } cases[] = {
        {"huge width", [](Bytes& b) { put32(b, 4, 0x40000000u); }},
        {"most negative height", [](Bytes& b) { put32(b, 8, 0x80000000u); }},
        {"zero height", [](Bytes& b) { put32(b, 8, 0); }},
        {"seven bits per pixel", [](Bytes& b) { put16(b, 14, 7); }},
        {"run-length compressed", [](Bytes& b) { put32(b, 16, 1); }},
        {"more colours than the depth has", [](Bytes& b) { put32(b, 32, 257); }},
        {"a pixel past a short colour table", [](Bytes& b) { put32(b, 32, 1); }},
        {"header size past the end", [](Bytes& b) { put32(b, 0, 0x10000); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = bitmap;
        c.corrupt(bytes);
        EXPECT_FALSE(sim::decodeDib(bytes.data(), bytes.size(), image));
    }
}

TEST(ResourceBytesTest, IconGroupAndIconCutShortAreRefused) {
    Bytes whole = moduleBytes();
    sim::ResourceFile file;
    ASSERT_TRUE(file.load(whole.data(), whole.size()));
    const sim::ResourceEntry* group = file.find(sim::RESOURCE_GROUP_ICON, 1);
    ASSERT_NE(group, nullptr);
    Bytes groupBytes(group->data, group->data + group->size);
    int large = sim::chooseGroupIcon(groupBytes.data(), groupBytes.size(), 32);
    int small = sim::chooseGroupIcon(groupBytes.data(), groupBytes.size(), 16);
    ASSERT_GT(large, 0);
    ASSERT_GT(small, 0);
    EXPECT_NE(large, small);
    for (std::size_t size = 0; size < groupBytes.size(); ++size) {
        EXPECT_EQ(sim::chooseGroupIcon(groupBytes.data(), size, 32), -1) << size;
    }

    const sim::ResourceEntry* icon = file.find(sim::RESOURCE_ICON, static_cast<std::uint16_t>(small));
    ASSERT_NE(icon, nullptr);
    Bytes iconBytes(icon->data, icon->data + icon->size);
    sim::DibImage image;
    ASSERT_TRUE(sim::decodeIconImage(iconBytes.data(), iconBytes.size(), image));
    EXPECT_EQ(image.width, 16);
    EXPECT_EQ(image.height, 16);
    for (std::size_t size = 0; size < iconBytes.size(); ++size) {
        Bytes cut(iconBytes.begin(), iconBytes.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_FALSE(sim::decodeIconImage(cut.data(), cut.size(), image)) << size;
    }
}

// Pixels of a plain (text) netpbm file: P3 colours, or P1 bits where 1 is black.
std::vector<std::uint32_t> plainPixels(const std::string& path, int& width, int& height) {
    std::istringstream in(testing_support::readHostFile(path));
    std::string magic, word;
    in >> magic;
    auto next = [&in]() {
        std::string token;
        while (in >> token && token[0] == '#') std::getline(in, token);
        return std::stoi(token);
    };
    width = next();
    height = next();
    std::vector<std::uint32_t> pixels;
    if (magic == "P3") {
        next();  // the largest value: 255
        for (int i = 0; i < width * height; ++i) {
            std::uint32_t r = next(), g = next(), b = next();
            pixels.push_back(0xFF000000u | r << 16 | g << 8 | b);
        }
    } else {
        for (int i = 0; i < width * height; ++i) {
            char bit;
            in >> bit;
            pixels.push_back(bit == '1' ? 0xFF000000u : 0xFFFFFFFFu);
        }
    }
    return pixels;
}

// The same pictures written by ppmtobmp at 1, 4, 8 and 24 bits per pixel.
TEST(ResourceBytesTest, BitmapsOfEveryDepthShowThePicture) {
    const struct {
        const char* bitmap;
        const char* picture;
    } cases[] = {
        {"text-1.bmp", QUORVEL_TEST_BITMAPS "/text.pbm"},
        {"picture-4.bmp", QUORVEL_TEST_PICTURE},
        {"picture-8.bmp", QUORVEL_TEST_PICTURE},
        {"picture-24.bmp", QUORVEL_TEST_PICTURE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bitmap);
        std::string file = testing_support::readHostFile(std::string(QUORVEL_TEST_BITMAPS "/") + c.bitmap);
        ASSERT_GT(file.size(), 14u);
        int width = 0, height = 0;
        std::vector<std::uint32_t> expected = plainPixels(c.picture, width, height);
        sim::DibImage image;
        // A bitmap resource is the file without its 14-byte file header.
        ASSERT_TRUE(sim::decodeDib(file.data() + 14, file.size() - 14, image));
        EXPECT_EQ(image.width, width);
        EXPECT_EQ(image.height, height);
        EXPECT_EQ(image.pixels, expected);
    }
}

// Depths netpbm does not write: a 2 x 2 image at 16 and 32 bits, with and without bit
// fields, bottom-up and top-down (negative height).
TEST(ResourceBytesTest, BitmapsOfSixteenAndThirtyTwoBits) {
    auto header = [](std::int32_t height, std::uint16_t bits, std::uint32_t compression) {
        Bytes h(40, 0);
        put32(h, 0, 40);
        put32(h, 4, 2);
        put32(h, 8, static_cast<std::uint32_t>(height));
        put16(h, 12, 1);
        put16(h, 14, bits);
        put32(h, 16, compression);
        return h;
    };
    auto append = [](Bytes& b, std::initializer_list<std::uint32_t> words, int size) {
        for (std::uint32_t w : words) {
            for (int i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
        }
    };
    // Red, green / blue, white, top line first.
    const std::vector<std::uint32_t> expected{0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
    struct Case {
        const char* name;
        Bytes bytes;
    };
    std::vector<Case> cases;
    {
        Bytes b = header(2, 32, 0);  // bottom line first
        append(b, {0x0000FF, 0xFFFFFF, 0xFF0000, 0x00FF00}, 4);
        cases.push_back({"32 bits", b});
    }
    {
        Bytes b = header(-2, 32, 3);
        append(b, {0xFF000000u, 0x00FF0000u, 0x0000FF00u}, 4);  // masks: red, green, blue
        append(b, {0xFF000000u, 0x00FF0000u, 0x0000FF00u, 0xFFFFFF00u}, 4);
        cases.push_back({"32 bits with fields, top-down", b});
    }
    {
        Bytes b = header(2, 16, 0);  // 5-5-5, lines padded to 4 bytes
        append(b, {0x001F, 0x7FFF, 0x7C00, 0x03E0}, 2);
        cases.push_back({"16 bits", b});
    }
    {
        Bytes b = header(-2, 16, 3);
        append(b, {0xF800, 0x07E0, 0x001F}, 4);  // 5-6-5
        append(b, {0xF800, 0x07E0, 0x001F, 0xFFFF}, 2);
        cases.push_back({"16 bits with 5-6-5 fields, top-down", b});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DibImage image;
        ASSERT_TRUE(sim::decodeDib(c.bytes.data(), c.bytes.size(), image));
        EXPECT_EQ(image.width, 2);
        EXPECT_EQ(image.height, 2);
        EXPECT_EQ(image.pixels, expected);
        Bytes cut(c.bytes.begin(), c.bytes.end() - 1);
        EXPECT_FALSE(sim::decodeDib(cut.data(), cut.size(), image));
    }
}

}  // namespace
