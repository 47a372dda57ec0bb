// The Windows meaning of the format directives and the text conversions.
#include <gtest/gtest.h>

#include <string>

#include "platform/coredll.h"

namespace {

std::u16string format(const char16_t* fmt, ...) {
    char16_t buffer[512];
    va_list args;
    va_start(args, fmt);
    int n = ce::wvsprintfW(buffer, fmt, args);
    va_end(args);
    EXPECT_EQ(static_cast<std::size_t>(n), std::u16string(buffer).size());
    return buffer;
}

TEST(Format, DirectivesHaveTheirWindowsMeaning) {
    EXPECT_EQ(format(u"%s|%S", u"wide", "narrow"), u"wide|narrow");
    EXPECT_EQ(format(u"%c%c", u'x', 0x30AB), u"x\u30AB");
    EXPECT_EQ(format(u"%d %d %u", -5, 2147483647, 4294967295u), u"-5 2147483647 4294967295");
    EXPECT_EQ(format(u"%x %X %#x %08x", 0xBEEFu, 0xBEEFu, 0x8u, 0x1234u), u"beef BEEF 0x8 00001234");
    EXPECT_EQ(format(u"[%5d][%-5d][%05d][%-05d]", 42, 42, -42, 42), u"[   42][42   ][-0042][42   ]");
    EXPECT_EQ(format(u"[%8s][%-4s][%.2s]", u"ab", u"ab", u"abcdef"), u"[      ab][ab  ][ab]");
    EXPECT_EQ(format(u"%#010x", 0x1Fu), u"0x0000001f");
    EXPECT_EQ(format(u"100%% %hs %ls", "n", u"w"), u"100% n w");
    EXPECT_EQ(format(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)");
}

TEST(Format, BoundedFormCutsToTheBuffer) {
    char16_t buffer[6];
    auto bounded = [&](const char16_t* fmt, ...) {
        va_list args;
        va_start(args, fmt);
        int n = ce::wvnsprintfW(buffer, 6, fmt, args);
        va_end(args);
        return n;
    };
    EXPECT_EQ(bounded(u"%s", u"abcdefgh"), 5);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(bounded(u"%d", 12), 2);
    EXPECT_EQ(std::u16string(buffer), u"12");
}

TEST(Text, WideCharToMultiByteMeasuresAndConverts) {
    const char16_t* text = u"k\u00e9rnel";
    int needed = ce::WideCharToMultiByte(ce::CP_ACP, 0, text, 6, nullptr, 0, nullptr, nullptr);
    EXPECT_EQ(needed, 7);  // the host's ANSI code page is UTF-8
    char out[8] = {};
    EXPECT_EQ(ce::WideCharToMultiByte(ce::CP_ACP, 0, text, 6, out, needed, nullptr, nullptr), 7);
    EXPECT_EQ(std::string(out, 7), "k\xc3\xa9rnel");
    EXPECT_EQ(ce::WideCharToMultiByte(ce::CP_ACP, 0, text, 6, out, 3, nullptr, nullptr), 0);
}

TEST(Text, WideStringRuntime) {
    EXPECT_EQ(ce::wcslen(u"abc"), 3u);
    EXPECT_EQ(ce::wcscmp(u"abc", u"abc"), 0);
    EXPECT_LT(ce::wcscmp(u"abb", u"abc"), 0);
    const char16_t* dir = u"x:http://host/";
    EXPECT_EQ(ce::wcsstr(dir, u"http://"), dir + 2);
    EXPECT_EQ(ce::wcsstr(dir, u"ftp://"), nullptr);
    EXPECT_EQ(ce::wcschr(dir, u'/'), dir + 7);
    EXPECT_EQ(ce::htonl(0x11223344), 0x44332211u);
}

}  // namespace
