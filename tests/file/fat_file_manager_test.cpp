// The local backend over the simulated handheld's files: paths, messages, reads at
// offsets and the path length bound.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "console/console.h"
#include "platform/coredll.h"
#include "file/fat_file_manager.h"
#include "support/device.h"
#include "support/log_capture.h"

using namespace quorvel;

namespace {

class FatBackend : public ::testing::Test {
protected:
    ~FatBackend() override { setConsole(nullptr); }

    testing_support::TestDevice device;
    testing_support::LogCapture log;
    Console* console = lcdConsole();
    FatFileManager fat{console};
};

TEST_F(FatBackend, AnnouncesItself) { EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"FileManager: FAT\n"}); }

TEST_F(FatBackend, JoinsDirectoryAndNameAsGiven) {
    device.writeFile("Storage Card/tamsel.gz", std::string(1234, 'k'));
    device.writeFile("Storage Cardtamsel.gz", "joined");
    struct Case {
        const char16_t* directory;
        const char16_t* name;
        ce::BOOL opened;
        std::u16string message;
    };
    const Case cases[] = {
        {u"\\Storage Card\\", u"tamsel.gz", 1, u"open file \"\\Storage Card\\tamsel.gz\"(1234 byte).\n"},
        {u"\\Storage Card", u"tamsel.gz", 1, u"open file \"\\Storage Cardtamsel.gz\"(6 byte).\n"},
        {u"\\Storage Card\\", u"missing", 0, u"can't open \"\\Storage Card\\missing\". cause = 2\n"},
        {u"\\No Card\\", u"tamsel.gz", 0, u"can't open \"\\No Card\\tamsel.gz\". cause = 3\n"},
        {u"\\", u"Storage Card", 0, u"can't open \"\\Storage Card\". cause = 5\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        log.clear();
        EXPECT_EQ(fat.setLocation(c.directory), 1);
        EXPECT_EQ(fat.open(c.name, 3), c.opened);
        EXPECT_EQ(log.entries(), std::vector<std::u16string>{c.message}) << log.utf8();
        if (c.opened) {
            EXPECT_EQ(fat.close(), 1);
        }
    }
}

TEST_F(FatBackend, ReadsAtTheCurrentPositionOrAnOffset) {
    device.writeFile("Storage Card/data", "0123456789abcdef");
    fat.setLocation(u"\\Storage Card\\");
    ASSERT_EQ(fat.open(u"data", 3), 1);
    EXPECT_EQ(fat.storedSize(), 16u);
    EXPECT_EQ(fat.size(), 16u);
    struct Step {
        std::int32_t offset;
        std::uint32_t length;
        std::string expected;
    };
    const Step steps[] = {
        {-1, 4, "0123"}, {-1, 4, "4567"}, {2, 3, "234"}, {-1, 2, "56"}, {14, 10, "ef"},
        {-1, 4, ""},     {16, 4, ""},     {40, 4, ""},   {0, 1, "0"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.offset);
        char buffer[16] = {};
        std::int32_t got = fat.read(buffer, step.length, step.offset);
        ASSERT_EQ(got, static_cast<std::int32_t>(step.expected.size()));
        EXPECT_EQ(std::string(buffer, got), step.expected);
    }
    EXPECT_EQ(fat.seek(10), 1);
    char buffer[3];
    EXPECT_EQ(fat.read(buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(fat.close(), 1);
    EXPECT_EQ(fat.close(), 0);
}

TEST_F(FatBackend, FilesAreNotLeftOpen) {
    device.writeFile("Storage Card/a", "first");
    device.writeFile("Storage Card/b", "second");
    // Handles are handed out in increasing order: count the live ones made after a probe.
    ce::HANDLE probe = ce::CreateFileW(u"\\Storage Card\\a", ce::GENERIC_READ, 0, nullptr, ce::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(probe, ce::INVALID_HANDLE_VALUE);
    ce::CloseHandle(probe);
    auto liveAfterProbe = [&] {
        int live = 0;
        for (std::uintptr_t h = reinterpret_cast<std::uintptr_t>(probe) + 1; h < reinterpret_cast<std::uintptr_t>(probe) + 256; ++h) {
            if (device->handle(reinterpret_cast<void*>(h))) ++live;
        }
        return live;
    };
    {
        FatFileManager other(console);
        other.setLocation(u"\\Storage Card\\");
        ASSERT_EQ(other.open(u"a", 3), 1);
        ASSERT_EQ(other.open(u"b", 3), 1);  // no close in between
        EXPECT_EQ(liveAfterProbe(), 1);
        char buffer[8];
        EXPECT_EQ(other.read(buffer, sizeof buffer), 6);
    }
    EXPECT_EQ(liveAfterProbe(), 0);
}

TEST_F(FatBackend, AFailingReadIsAnError) {
    device.writeFile("Storage Card/data", "0123456789");
    fat.setLocation(u"\\Storage Card\\");
    ASSERT_EQ(fat.open(u"data", 3), 1);
    device->faults().failAlways("ReadFile");
    char buffer[4];
    EXPECT_EQ(fat.read(buffer, sizeof buffer), -1);
    fat.close();
}

TEST_F(FatBackend, WritesThroughTheHandleItOpened) {
    device.writeFile("Storage Card/data", "0123456789");
    fat.setLocation(u"\\Storage Card\\");
    ASSERT_EQ(fat.open(u"data", 3), 1);
    // Opened for reading only: a write cannot succeed and says so.
    EXPECT_EQ(fat.write("xy", 2, 0), -1);
    fat.close();
    EXPECT_EQ(device.readFile("Storage Card/data"), "0123456789");
}

// Keeps every line whole: these lines are longer than the log view's console keeps.
struct WholeLines : Console {
    void print(const ce::WCHAR* format, ...) override {
        ce::WCHAR line[1024];
        va_list args;
        va_start(args, format);
        ce::wvnsprintfW(line, 1024, format, args);
        va_end(args);
        lines.push_back(line);
    }
    std::vector<std::u16string> lines;
};

// The path holds 259 characters and its terminator; nothing longer is looked for,
// neither a cut-short name nor a cut-short directory (whose message shows the part kept).
TEST_F(FatBackend, RefusesPathsLongerThanThePathBuffer) {
    WholeLines whole;
    console = &whole;
    // "\Storage Card\" + a folder of 120 + "\" + a folder of 110 + "\" = 246 characters.
    std::string folder = "Storage Card/" + std::string(120, 'd') + "/" + std::string(110, 'e');
    std::u16string directory = u"\\Storage Card\\" + std::u16string(120, u'd') + u"\\" + std::u16string(110, u'e') + u"\\";
    ASSERT_EQ(directory.size(), 246u);
    std::u16string fits(13, u'f');     // 259 characters in all
    std::u16string longer(14, u'f');  // 260: cut to 259 it would name the file above
    device.writeFile(folder + "/" + std::string(13, 'f'), "fits");
    device.writeFile(folder + "/" + std::string(14, 'f'), "too long");

    struct Case {
        const char* label;
        std::u16string directory;
        std::u16string name;
        std::u16string message;
    };
    const Case cases[] = {
        {"259 characters", directory, fits, u"open file \"" + directory + fits + u"\"(4 byte).\n"},
        {"260 characters", directory, longer,
         u"can't open \"" + directory + longer + u"\". cause = 206\n"},
        {"directory alone of 260 characters", directory + std::u16string(14, u'g'), u"",
         u"can't open \"" + directory + std::u16string(13, u'g') + u"\". cause = 206\n"},
        {"directory longer than the buffer", directory + std::u16string(400, u'g'), fits,
         u"can't open \"" + directory + std::u16string(13, u'g') + fits + u"\". cause = 206\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        whole.lines.clear();
        fat.setLocation(c.directory.c_str());
        ce::BOOL opened = fat.open(c.name.c_str(), 3);
        EXPECT_EQ(whole.lines, std::vector<std::u16string>{c.message});
        if (opened) {
            char buffer[8];
            EXPECT_EQ(fat.read(buffer, sizeof buffer), 4);
            EXPECT_EQ(std::string(buffer, 4), "fits");
            fat.close();
        }
    }
    console = lcdConsole();
}

}  // namespace
