// The kernel's hand-over data: the argument vector built from the options, the
// framebuffer description and the BootInfo record.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "hardware/cpu_models.h"
#include "boot/boot_info.h"
#include "boot/boot_menu.h"
#include "platform/coredll.h"
#include "base/little_endian.h"
#include "support/device.h"

using namespace quorvel;
using testing_support::TestDevice;

namespace {

constexpr std::uint32_t PAGE_SIZE = 4096;
constexpr std::uint32_t PAGE_PHYS = 0xC0A3F000;
constexpr std::uint8_t UNTOUCHED = 0xEE;

class FakeMainWindow : public BootWindow {
public:
    ce::HWND messageOwner() const override { return reinterpret_cast<ce::HWND>(0x4242); }
    void progressStep(const char*) override {}
    void progressReset() override {}
};

// A boot information page as fillParameterPage lays it out: argv at offset 52.
struct Page {
    alignas(4) std::uint8_t bytes[PAGE_SIZE];
    Page() { std::memset(bytes, UNTOUCHED, sizeof bytes); }
    std::uint32_t* argv() { return reinterpret_cast<std::uint32_t*>(bytes + 52); }
    std::uint32_t word(std::uint32_t offset) const {
        std::uint32_t v;
        std::memcpy(&v, bytes + offset, 4);
        return v;
    }
    // The strings the first argc physical pointers lead to.
    std::vector<std::string> arguments(int argc) const {
        std::vector<std::string> out;
        for (int i = 0; i < argc; ++i) {
            std::uint32_t phys = word(52 + 4 * i);
            EXPECT_GE(phys, PAGE_PHYS + 116);
            EXPECT_LT(phys, PAGE_PHYS + PAGE_SIZE);
            if (phys < PAGE_PHYS + 116 || phys >= PAGE_PHYS + PAGE_SIZE) break;
            out.emplace_back(reinterpret_cast<const char*>(bytes + (phys - PAGE_PHYS)));
        }
        return out;
    }
};

class BootInfoTest : public ::testing::Test {
protected:
    TestDevice device;
    BootMenu menu;
    Page page;

    int makeArguments(std::uint32_t space = argumentSpace(PAGE_SIZE)) {
        return menu.makeKernelArguments(page.argv(), PAGE_PHYS + 52, space);
    }
    void setName(const char16_t* name) { ce::wcsncpy(menu.kernelName, name, PATH_SIZE); }
    void setExtra(const char16_t* extra) { ce::wcsncpy(menu.extraKernelOptions, extra, EXTRA_OPTIONS_SIZE); }
};

TEST_F(BootInfoTest, ArgumentsArePackedBehindTheArgvArray) {
    EXPECT_EQ(argumentSpace(PAGE_SIZE), PAGE_SIZE - 68);
    setName(u"k");
    menu.serialConsole = ce::TRUE;
    menu.bootVerbose = ce::TRUE;
    menu.rootFileSystem = ROOT_SD;
    setExtra(u" -x  y");
    ASSERT_EQ(makeArguments(), 6);
    const std::uint32_t expected[] = {116, 118, 120, 122, 128, 131};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(page.word(52 + 4 * i), PAGE_PHYS + expected[i]);
    }
    EXPECT_EQ(std::memcmp(page.bytes + 116, "k\0h\0v\0b=sd0\0-x\0y\0", 17), 0);
    EXPECT_EQ(page.bytes[133], UNTOUCHED);
    EXPECT_EQ(page.bytes[52 + 4 * 6], UNTOUCHED);  // entries past argc are left alone
    EXPECT_TRUE(device->messageBoxes().shown().empty());
}

std::u16string numberedOptions(int count) {
    std::u16string text;
    for (int i = 1; i <= count; ++i) {
        text += u"o";
        if (i >= 10) text += static_cast<char16_t>(u'0' + i / 10);
        text += static_cast<char16_t>(u'0' + i % 10);
        text += u" ";
    }
    return text;
}

std::vector<std::string> numbered(int from, int to) {
    std::vector<std::string> out;
    for (int i = from; i <= to; ++i) out.push_back("o" + std::to_string(i));
    return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void allFlags(BootMenu& m) {
    m.serialConsole = m.bootVerbose = m.bootSingleUser = m.askFileName = m.kernelDebugger = ce::TRUE;
}

TEST_F(BootInfoTest, ArgumentsFromFlagsRootAndExtraOptions) {
    const std::u16string sixteen = numberedOptions(16);
    const std::u16string fifteen = numberedOptions(15);
    const std::u16string twelve = numberedOptions(12);
    struct Case {
        const char* what;
        std::function<void(BootMenu&)> arrange;
        std::vector<std::string> arguments;
        bool warned;
    } cases[] = {
        {"name only", [](BootMenu&) {}, {"tamsel"}, false},
        {"all-blank extra options", [](BootMenu& m) { ce::wcsncpy(m.extraKernelOptions, u" \t  \t", 256); }, {"tamsel"}, false},
        {"blanks and tabs repeat, a tab separates",
         [](BootMenu& m) { ce::wcsncpy(m.extraKernelOptions, u"\ta\t\tb  c\t", 256); },
         {"tamsel", "a", "b", "c"},
         false},
        {"flags in their order", allFlags, {"tamsel", "h", "v", "s", "a", "d"}, false},
        {"some flags", [](BootMenu& m) { m.bootSingleUser = m.kernelDebugger = ce::TRUE; }, {"tamsel", "s", "d"}, false},
        {"root wd", [](BootMenu& m) { m.rootFileSystem = ROOT_WD; }, {"tamsel"}, false},
        {"root sd", [](BootMenu& m) { m.rootFileSystem = ROOT_SD; }, {"tamsel", "b=sd0"}, false},
        {"root md", [](BootMenu& m) { m.rootFileSystem = ROOT_MD; }, {"tamsel", "m=miniroot.fs"}, false},
        {"root nfs", [](BootMenu& m) { m.rootFileSystem = ROOT_NFS; }, {"tamsel", "b=nfs"}, false},
        {"root dk", [](BootMenu& m) { m.rootFileSystem = ROOT_DK; }, {"tamsel", "b=dk0"}, false},
        {"root ld", [](BootMenu& m) { m.rootFileSystem = ROOT_LD; }, {"tamsel", "b=ld0"}, false},
        {"unknown root 6", [](BootMenu& m) { m.rootFileSystem = 6; }, {"tamsel"}, false},
        {"unknown root -1", [](BootMenu& m) { m.rootFileSystem = -1; }, {"tamsel"}, false},
        {"md with an image name of its own",
         [](BootMenu& m) {
             m.rootFileSystem = ROOT_MD;
             ce::wcsncpy(m.fileSystemImage, u"r\u00E9cup.fs", PATH_SIZE);
         },
         {"tamsel", "m=r\xC3\xA9" "cup.fs"},
         false},
        {"all flags and md leave room for nine extras",
         [&](BootMenu& m) {
             allFlags(m);
             m.rootFileSystem = ROOT_MD;
             ce::wcsncpy(m.extraKernelOptions, twelve.c_str(), 256);
         },
         std::vector<std::string>{"tamsel", "h", "v", "s", "a", "d", "m=miniroot.fs"} + numbered(1, 9),
         true},
        {"sixteen arguments fit", [&](BootMenu& m) { ce::wcsncpy(m.extraKernelOptions, fifteen.c_str(), 256); },
         std::vector<std::string>{"tamsel"} + numbered(1, 15), false},
        {"the seventeenth does not", [&](BootMenu& m) { ce::wcsncpy(m.extraKernelOptions, sixteen.c_str(), 256); },
         std::vector<std::string>{"tamsel"} + numbered(1, 15), true},
    };
    FakeMainWindow window;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BootMenu fresh;
        fresh.mainWindow = &window;
        ce::wcsncpy(fresh.kernelName, u"tamsel", PATH_SIZE);
        c.arrange(fresh);
        device->messageBoxes().clear();
        device->updatedWindows().clear();
        Page p;
        int argc = fresh.makeKernelArguments(p.argv(), PAGE_PHYS + 52, argumentSpace(PAGE_SIZE));
        EXPECT_EQ(argc, static_cast<int>(c.arguments.size()));
        EXPECT_EQ(p.arguments(argc), c.arguments);
        const auto& boxes = device->messageBoxes().shown();
        if (c.warned) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, u"Too many extra kernel options.");
            EXPECT_EQ(boxes[0].caption, u"WARNING");
            EXPECT_EQ(boxes[0].type, 0x30u);
            EXPECT_EQ(boxes[0].owner, 0x4242u);
            EXPECT_EQ(device->updatedWindows(), std::vector<std::uintptr_t>{0x4242});
        } else {
            EXPECT_TRUE(boxes.empty());
            EXPECT_TRUE(device->updatedWindows().empty());
        }
    }
}

TEST_F(BootInfoTest, ExtraOptionsStopAtTheEndOfTheRoom) {
    // "k" ends 66 bytes past argv; each extra needs its length plus a terminator.
    struct Case {
        const char16_t* extra;
        std::uint32_t space;
        std::vector<std::string> arguments;
        bool warned;
    } cases[] = {
        {u"abc", 70, {"k", "abc"}, false},
        {u"abc", 69, {"k"}, true},
        {u"abc de", 73, {"k", "abc", "de"}, false},
        {u"abc de", 72, {"k", "abc"}, true},
        {u"abc", 0xFFFFFFFF, {"k", "abc"}, false},
        // A room smaller than the argv array: not even the name is written.
        {u"abc", 40, {""}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.space);
        device->messageBoxes().clear();
        Page p;
        setName(u"k");
        setExtra(c.extra);
        int argc = menu.makeKernelArguments(p.argv(), PAGE_PHYS + 52, c.space);
        EXPECT_EQ(p.arguments(argc), c.arguments);
        std::uint32_t end = 52 + 64;
        for (const std::string& s : c.arguments) end += static_cast<std::uint32_t>(s.size()) + 1;
        EXPECT_EQ(p.bytes[end], UNTOUCHED);
        ASSERT_EQ(device->messageBoxes().shown().size(), c.warned ? 1u : 0u);
        if (c.warned) {
            EXPECT_EQ(device->messageBoxes().shown()[0].text, u"Too many extra kernel options.");
        }
    }
}

TEST_F(BootInfoTest, WarningWithoutAMainWindowHasNoOwner) {
    setName(u"k");
    setExtra(numberedOptions(16).c_str());
    EXPECT_EQ(makeArguments(), 16);
    ASSERT_EQ(device->messageBoxes().shown().size(), 1u);
    EXPECT_EQ(device->messageBoxes().shown()[0].owner, 0u);
    EXPECT_EQ(device->updatedWindows(), std::vector<std::uintptr_t>{0});
}

TEST_F(BootInfoTest, KernelNameLeavesAsEightBitText) {
    struct Case {
        const char16_t* name;
        std::uint32_t space;
        std::string argument;
    } cases[] = {
        {u"\u30AB\u30FC\u30CD\u30EB.gz", argumentSpace(PAGE_SIZE), "\xE3\x82\xAB\xE3\x83\xBC\xE3\x83\x8D\xE3\x83\xAB.gz"},
        {u"", argumentSpace(PAGE_SIZE), ""},
        {u"abc", 68, "abc"},  // exactly to the limit
        {u"abc", 67, ""},     // never past it
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.space);
        Page p;
        setName(c.name);
        ASSERT_EQ(menu.makeKernelArguments(p.argv(), PAGE_PHYS + 52, c.space), 1);
        EXPECT_EQ(p.arguments(1), std::vector<std::string>{c.argument});
        EXPECT_EQ(p.bytes[116 + c.argument.size() + 1], UNTOUCHED);
    }
    EXPECT_TRUE(device->messageBoxes().shown().empty());
}

struct FramebufferCase {
    const char* what;
    PlatformId platform;
    int screenBpp;
    FramebufferEntry expected;
    bool fromScreen;
};

TEST_F(BootInfoTest, FramebufferComesFromTheTableOrTheScreen) {
    device->settings().screenWidth = 320;
    device->settings().screenHeight = 200;
    const FramebufferCase cases[] = {
        {"Jornada 720 variant, 16 bpp", {CPU_WORD_SA1110, 0x02C20201}, 16,
         {{CPU_WORD_SA1110, 0x02C20200}, 16, 640, 240, 1280, 0x48200000}, false},
        {"Jornada 720 variant, 8 bpp: the row as fallback", {CPU_WORD_SA1110, 0x02C20205}, 8,
         {{CPU_WORD_SA1110, 0x02C20200}, 16, 640, 240, 1280, 0x48200000}, false},
        {"Jornada 820, 8 bpp", {CPU_WORD_SA1100, 0x02C20301}, 8, {{CPU_WORD_SA1100, 0x02C20301}, 8, 640, 480, 0, 0}, false},
        {"Jornada 820 (Japanese), 16 bpp", {CPU_WORD_SA1100, 0x02C20302}, 16,
         {{CPU_WORD_SA1100, 0x02C20302}, 8, 640, 480, 0, 0}, false},
        {"iPAQ H3600", {CPU_WORD_SA1110, 0x01C40201}, 16, {{CPU_WORD_SA1110, 0x01C40201}, 16, 320, 240, 640, 0}, false},
        {"iPAQ H3900", {CPU_WORD_PXA250, 0x01C40301}, 16, {{CPU_WORD_PXA250, 0x01C40301}, 16, 320, 240, 640, 0}, false},
        {"NETBOOK PRO", {CPU_WORD_PXA250, 0x04010100}, 16, {{CPU_WORD_PXA250, 0x04010100}, 16, 800, 600, 1600, 0x14200000}, false},
        {"iPAQ H3660 has no row", {CPU_WORD_SA1110, 0x01C40202}, 16, {{CPU_WORD_SA1110, 0x01C40202}, 16, 320, 200, 0, 0}, true},
        {"no platform", {0, 0}, 4, {{0, 0}, 4, 320, 200, 0, 0}, true},
    };
    for (const FramebufferCase& c : cases) {
        SCOPED_TRACE(c.what);
        device->settings().bitsPerPixel = c.screenBpp;
        FramebufferDescription framebuffer(c.platform.cpu, c.platform.machine);
        const FramebufferEntry& e = framebuffer.entry();
        EXPECT_EQ(e.platform, c.expected.platform);
        EXPECT_EQ(framebuffer.bitsPerPixel(), c.expected.bpp);
        EXPECT_EQ(framebuffer.width(), c.expected.width);
        EXPECT_EQ(framebuffer.height(), c.expected.height);
        EXPECT_EQ(framebuffer.lineBytes(), c.expected.lineBytes);
        EXPECT_EQ(framebuffer.physAddress(), c.expected.physAddress);
        EXPECT_EQ(framebuffer.fromScreen(), c.fromScreen);
    }
}

TEST(FramebufferType, FromDepthAndReverseVideo) {
    struct Case {
        int bpp;
        std::int16_t normal;
        std::int16_t reversed;
    } cases[] = {{4, 10, 8}, {8, 3, 4}, {16, 5, 6}, {24, 2, 0}, {1, 2, 0}, {2, 2, 0}, {32, 2, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bpp);
        EXPECT_EQ(FramebufferDescription::typeFor(c.bpp, ce::FALSE), c.normal);
        EXPECT_EQ(FramebufferDescription::typeFor(c.bpp, ce::TRUE), c.reversed);
    }
}

TEST(FramebufferType, TakesReverseVideoFromTheBootMenu) {
    TestDevice device;
    device->settings().bitsPerPixel = 8;
    FramebufferDescription framebuffer(0, 0);
    theBootMenu().reverseVideo = ce::FALSE;
    EXPECT_EQ(framebuffer.framebufferType(), 3);
    theBootMenu().reverseVideo = ce::TRUE;
    EXPECT_EQ(framebuffer.framebufferType(), 4);
    releaseBootMenu();
}

std::uint16_t half(const std::uint8_t* p, int offset) { return quorvel::readLe16(p + offset); }
std::uint32_t whole(const std::uint8_t* p, int offset) { return quorvel::readLe32(p + offset); }

TEST_F(BootInfoTest, BootInfoRecordDescribesScreenPlatformAndTimeZone) {
    struct Case {
        const char* what;
        PlatformId platform;
        int bpp, width, height;
        bool reverse;
        std::int32_t bias, daylightBias;
        bool daylight;
        // expected
        std::uint32_t fbAddress;
        std::int16_t lineBytes, fbWidth, fbHeight, fbType;
        std::int32_t timezone;
    } cases[] = {
        {"Jornada 720 variant, 16 bpp", {CPU_WORD_SA1110, 0x02C20201}, 16, 320, 240, false, 300, -60, false,
         0x48200000, 1280, 640, 240, 5, 300},
        {"Jornada 720 variant, 8 bpp, reversed", {CPU_WORD_SA1110, 0x02C20204}, 8, 320, 240, true, 300, -60, false,
         0x48200000, 1280, 640, 240, 6, 300},
        {"daylight time", {CPU_WORD_SA1110, 0x02C20201}, 16, 320, 240, false, 300, -60, true,
         0x48200000, 1280, 640, 240, 5, 240},
        {"daylight bias of its own", {CPU_WORD_PXA250, 0x04010100}, 16, 640, 480, false, -60, -30, true,
         0x14200000, 1600, 800, 600, 5, -90},
        {"4 bpp screen, no row", {0, 0}, 4, 320, 240, false, -540, -60, false, 0, 0, 320, 240, 10, -540},
        {"24 bpp screen", {0, 0}, 24, 640, 480, false, 0, -60, false, 0, 0, 640, 480, 2, 0},
        {"24 bpp screen, reversed", {0, 0}, 24, 640, 480, true, 0, -60, false, 0, 0, 640, 480, 0, 0},
        {"sizes are cut to 16 bits", {0, 0}, 16, 70000, 65535, false, 0, -60, false, 0, 0, 4464, -1, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::DeviceSettings& s = device->settings();
        s.bitsPerPixel = c.bpp;
        s.screenWidth = c.width;
        s.screenHeight = c.height;
        s.timeZoneBias = c.bias;
        s.daylightBias = c.daylightBias;
        s.daylightTime = c.daylight;
        menu.platform = c.platform;
        menu.reverseVideo = c.reverse ? ce::TRUE : ce::FALSE;

        alignas(4) std::uint8_t bytes[40];
        std::memset(bytes, UNTOUCHED, sizeof bytes);
        menu.makeBootInfo(reinterpret_cast<BootInfo*>(bytes));
        EXPECT_EQ(half(bytes, 0), 36);
        EXPECT_EQ(half(bytes, 2), 0);
        EXPECT_EQ(whole(bytes, 4), 0x13536135u);
        EXPECT_EQ(whole(bytes, 8), c.fbAddress);
        EXPECT_EQ(static_cast<std::int16_t>(half(bytes, 12)), c.lineBytes);
        EXPECT_EQ(static_cast<std::int16_t>(half(bytes, 14)), c.fbWidth);
        EXPECT_EQ(static_cast<std::int16_t>(half(bytes, 16)), c.fbHeight);
        EXPECT_EQ(static_cast<std::int16_t>(half(bytes, 18)), c.fbType);
        EXPECT_EQ(half(bytes, 20), 0);  // the console kind is fillParameterPage's
        EXPECT_EQ(half(bytes, 22), 0);
        EXPECT_EQ(whole(bytes, 24), c.platform.cpu);
        EXPECT_EQ(whole(bytes, 28), c.platform.machine);
        EXPECT_EQ(static_cast<std::int32_t>(whole(bytes, 32)), c.timezone);
        EXPECT_EQ(bytes[36], UNTOUCHED);
    }
}

}  // namespace
