// The wide to 8-bit name conversion every file manager shares, and its two messages.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "console/console.h"
#include "file/fat_file_manager.h"
#include "support/device.h"
#include "support/log_capture.h"

using namespace quorvel;

namespace {

class ConvertToAscii : public ::testing::Test {
protected:
    ~ConvertToAscii() override { setConsole(nullptr); }

    testing_support::TestDevice device;
    testing_support::LogCapture log;
    Console* console = lcdConsole();
    FatFileManager manager{console};
};

TEST_F(ConvertToAscii, FitsTheTextAndItsTerminatorOrSaysWhy) {
    struct Case {
        const char* label;
        std::u16string source;
        std::size_t capacity;
        ce::BOOL result;
        std::string converted;
        std::u16string message;
    };
    const Case cases[] = {
        {"259 characters in 260 bytes", std::u16string(259, u'k'), 260, 1, std::string(259, 'k'), u""},
        {"260 characters in 260 bytes", std::u16string(260, u'k'), 260, 0, "", u"buffer insufficeint. 261 > 260\n"},
        {"host name", u"www.example.org", 16, 1, "www.example.org", u""},
        {"one byte short", u"www.example.org", 15, 0, "", u"buffer insufficeint. 16 > 15\n"},
        {"empty text", u"", 260, 0, "", u"can't convert to ASCII.\n"},
        {"empty text, no room at all", u"", 0, 0, "", u"buffer insufficeint. 1 > 0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        log.clear();
        char destination[300];
        std::memset(destination, '#', sizeof destination);
        EXPECT_EQ(manager.convertToAscii(destination, c.source.c_str(), c.capacity), c.result);
        if (c.result) {
            EXPECT_EQ(std::string(destination), c.converted);
        } else {
            EXPECT_EQ(destination[0], '#');
        }
        // Nothing is written past the text's terminator.
        EXPECT_EQ(destination[c.converted.size() + (c.result ? 1 : 0)], '#');
        if (c.message.empty()) {
            EXPECT_TRUE(log.entries().empty()) << log.utf8();
        } else {
            ASSERT_EQ(log.entries().size(), 1u) << log.utf8();
            EXPECT_EQ(log.entries()[0], c.message);
        }
    }
}

TEST_F(ConvertToAscii, AFailingConversionIsReported) {
    device->faults().failAlways("WideCharToMultiByte");
    char destination[32] = {};
    EXPECT_EQ(manager.convertToAscii(destination, u"tamsel.gz", sizeof destination), 0);
    EXPECT_TRUE(log.contains(u"can't convert to ASCII.\n")) << log.utf8();
}

TEST_F(ConvertToAscii, PrintsThroughTheConsoleInTheSlotAtTheTime) {
    struct Recorder : Console {
        void print(const ce::WCHAR* format, ...) override { formats.push_back(format); }
        std::vector<std::u16string> formats;
    } recorder;
    log.clear();
    console = &recorder;
    char destination[4];
    EXPECT_EQ(manager.convertToAscii(destination, u"tamsel", sizeof destination), 0);
    console = lcdConsole();
    ASSERT_EQ(recorder.formats.size(), 1u);
    EXPECT_EQ(recorder.formats[0], u"buffer insufficeint. %d > %d\n");
    EXPECT_TRUE(log.entries().empty());
}

}  // namespace
