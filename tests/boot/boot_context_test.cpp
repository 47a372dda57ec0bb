// The base boot context: the options it copies, the file manager it creates, the
// loader it chooses for the kernel's format, and what it releases.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <typeinfo>

#include "boot/boot_context.h"
#include "boot/boot_menu.h"
#include "console/console.h"
#include "file/fat_file_manager.h"
#include "file/gzip_file_manager.h"
#include "file/http_file_manager.h"
#include "file/ufs/ufs_file_manager.h"
#include "loader/coff_loader.h"
#include "loader/elf_loader.h"
#include "platform/coredll.h"
#include "sim/utf.h"
#include "support/cache_watch.h"
#include "support/component_doubles.h"
#include "support/device.h"
#include "support/log_capture.h"
#include "support/test_data.h"

using namespace quorvel;
using testing_support::ArchitectureDouble;
using testing_support::FileManagerDouble;
using testing_support::LoaderDouble;
using testing_support::LogCapture;
using testing_support::CapturingConsole;
using testing_support::Script;
using testing_support::TestDevice;

namespace {

void setText(ce::WCHAR (&to)[PATH_SIZE], const std::u16string& from) {
    std::copy(from.begin(), from.end(), to);
    to[from.size()] = 0;
}

// The identification bytes of a 32-bit little-endian ELF file, then padding.
const std::string ELF_HEAD = std::string("\x7f" "ELF\x01\x01\x01", 7) + std::string(100, '\0');

std::string gzipped(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);  // gzip framing
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

class BootContextTest : public ::testing::Test {
protected:
    BootContextTest() { setConsole(nullptr); }

    TestDevice device;
    LogCapture log;
    Script script;
    BootMenu& menu = theBootMenu();
};

TEST_F(BootContextTest, SetupChoosesTheFileManagerByTheDirectory) {
    struct Case {
        std::u16string directory;
        FileManagerKind kind;
    };
    const Case cases[] = {
        {u"http://server/quorvel/", FILE_MANAGER_HTTP},
        {u"x http://server/", FILE_MANAGER_HTTP},  // found anywhere, not only at the start
        {u"HTTP://server/", FILE_MANAGER_UFS},     // case matters; the '/' makes it UFS
        {u"2:/", FILE_MANAGER_UFS},
        {u"/", FILE_MANAGER_UFS},
        {u"\\Storage Card\\", FILE_MANAGER_FAT},
        {u"", FILE_MANAGER_FAT},
    };
    BootContext context;
    for (const Case& c : cases) {
        SCOPED_TRACE(sim::toUtf8(c.directory));
        setText(menu.kernelDirectory, c.directory);
        EXPECT_TRUE(context.setup());
        EXPECT_EQ(context.fileManagerKind, c.kind);
        EXPECT_EQ(std::u16string(context.kernelDirectory), c.directory);
    }
}

TEST_F(BootContextTest, SetupCopiesTheOptionsOfTheAttempt) {
    struct Case {
        ce::BOOL serialConsole;
        std::int32_t root;
        ce::BOOL serialCopy;
        ce::BOOL useImage;
        std::u16string image;
    };
    const Case cases[] = {
        {7, ROOT_MD, 1, 1, u"miniroot.fs"},
        {0, ROOT_SD, 0, 0, u"before"},  // the image name is kept only for md
        {1, ROOT_WD, 1, 0, u"before"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        BootContext context;
        setText(context.fileSystemImage, u"before");
        context.architectureDebug = context.memoryManagerDebug = context.fileManagerDebug = 5;
        menu.serialConsole = c.serialConsole;
        menu.rootFileSystem = c.root;
        setText(menu.kernelName, u"tamsel.gz");
        setText(menu.fileSystemImage, u"miniroot.fs");

        EXPECT_TRUE(context.setup());
        EXPECT_EQ(context.serialConsole, c.serialCopy);
        EXPECT_EQ(context.useFileSystemImage, c.useImage);
        EXPECT_EQ(std::u16string(context.fileSystemImage), c.image);
        EXPECT_EQ(std::u16string(context.kernelName), u"tamsel.gz");
        EXPECT_EQ(context.architectureDebug, 0);
        EXPECT_EQ(context.memoryManagerDebug, 0);
        EXPECT_EQ(context.fileManagerDebug, 0);
    }
}

TEST_F(BootContextTest, SetupTerminatesOptionStringsThatFillTheirArrays) {
    // A configuration file may hold names without a terminator.
    for (ce::WCHAR& c : menu.kernelDirectory) c = u'/';
    for (ce::WCHAR& c : menu.kernelName) c = u'k';
    for (ce::WCHAR& c : menu.fileSystemImage) c = u'm';
    menu.rootFileSystem = ROOT_MD;
    BootContext context;
    EXPECT_TRUE(context.setup());
    EXPECT_EQ(std::u16string(context.kernelDirectory), std::u16string(PATH_SIZE - 1, u'/'));
    EXPECT_EQ(std::u16string(context.kernelName), std::u16string(PATH_SIZE - 1, u'k'));
    EXPECT_EQ(std::u16string(context.fileSystemImage), std::u16string(PATH_SIZE - 1, u'm'));
    EXPECT_EQ(context.fileManagerKind, FILE_MANAGER_UFS);
}

TEST_F(BootContextTest, StartsWithTheCurrentConsoleAndNoComponents) {
    CapturingConsole current;
    setConsole(&current);
    BootContext context;
    EXPECT_EQ(context.consoleSlot, &current);
    EXPECT_EQ(context.architecture, nullptr);
    EXPECT_EQ(context.memoryManagerSlot, nullptr);
    EXPECT_EQ(context.fileManagerSlot, nullptr);
    EXPECT_EQ(context.loader, nullptr);
    setConsole(nullptr);
}

TEST_F(BootContextTest, CreateMakesItsConsoleCurrentAndAGzipFrontOfTheChosenKind) {
    struct Case {
        FileManagerKind kind;
        std::u16string announced;  // what the backend says as it is made
    };
    const Case cases[] = {
        {FILE_MANAGER_FAT, u"FileManager: FAT\n"},
        {FILE_MANAGER_UFS, u"FileManager: UFS\n"},
        {FILE_MANAGER_HTTP, u"FileManager: HTTP\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        CapturingConsole console;
        BootContext context;
        context.consoleSlot = &console;
        context.fileManagerKind = c.kind;
        context.fileManagerDebug = 0;
        ASSERT_TRUE(context.create());
        EXPECT_EQ(theConsole(), &console);
        auto* front = dynamic_cast<GzipFileManager*>(context.fileManagerSlot);
        ASSERT_NE(front, nullptr);
        EXPECT_EQ(console.lines, std::vector<std::u16string>{c.announced});
        EXPECT_EQ(front->debugLevel, 0);
        setConsole(nullptr);
    }
}

// The front's kept bytes share RAM with the page pool: with 512 KB free it keeps at
// most 256 KB of a 1 MB kernel, and reading back inflates again instead.
TEST_F(BootContextTest, TheFrontKeepsInflatedBytesInHalfTheFreeRamAtMost) {
    constexpr std::uint32_t KB = 1u << 10;
    const std::string content = testing_support::textData(1024 * KB, 5);
    device.writeFile("Storage Card/kernel.gz", gzipped(content));
    const std::size_t others = device->memory().freeFrames() * 4096 - 512 * KB;
    ASSERT_NE(ce::VirtualAlloc(nullptr, static_cast<ce::DWORD>(others), ce::MEM_COMMIT, ce::PAGE_READWRITE), nullptr);
    BootContext context;
    context.consoleSlot = lcdConsole();
    context.fileManagerKind = FILE_MANAGER_FAT;
    ASSERT_TRUE(context.create());
    auto* front = dynamic_cast<GzipFileManager*>(context.fileManagerSlot);
    ASSERT_NE(front, nullptr);
    testing_support::CacheWatch watch;
    front->watchCache(&watch);
    ASSERT_TRUE(front->setLocation(u"\\Storage Card\\"));
    ASSERT_TRUE(front->open(u"kernel.gz", 3));
    std::string tail(100, '\0'), head(4000, '\0');
    ASSERT_EQ(front->read(tail.data(), 100, static_cast<std::int32_t>(content.size() - 100)), 100);
    ASSERT_EQ(front->read(head.data(), 4000, 4096), 4000);
    EXPECT_EQ(tail, content.substr(content.size() - 100));
    EXPECT_EQ(head, content.substr(4096, 4000));
    EXPECT_LE(watch.peak, 256 * KB);
    EXPECT_GT(front->inflatedBytes(), content.size());
    front->close();
    setConsole(nullptr);
}

TEST_F(BootContextTest, CreateReleasesTheComponentsOfAnEarlierAttempt) {
    BootContext context;
    context.fileManagerSlot = new FileManagerDouble(script, context.consoleSlot, {});
    context.loader = std::make_unique<LoaderDouble>(script, context.consoleSlot, context.memoryManagerSlot);
    ASSERT_TRUE(context.create());
    EXPECT_EQ(script.count("files.~"), 1);
    EXPECT_EQ(script.count("loader.~"), 1);
    EXPECT_EQ(context.loader, nullptr);
    EXPECT_NE(dynamic_cast<GzipFileManager*>(context.fileManagerSlot), nullptr);
}

TEST_F(BootContextTest, DestructionReleasesTheFileManagerAndTheLoaderOnly) {
    auto* context = new BootContext;
    ArchitectureDouble* architecture = new ArchitectureDouble(script, context->consoleSlot, context->memoryManagerSlot);
    context->architecture = architecture;
    context->fileManagerSlot = new FileManagerDouble(script, context->consoleSlot, {});
    context->loader = std::make_unique<LoaderDouble>(script, context->consoleSlot, context->memoryManagerSlot);
    delete context;
    EXPECT_EQ(script.calls, (std::vector<std::string>{"loader.~", "files.~"}));
    delete architecture;
}

TEST_F(BootContextTest, ChooseLoaderFollowsTheKernelsFormat) {
    struct Case {
        const char* name;
        std::string bytes;
        bool elf;
    };
    const Case cases[] = {
        {"plain ELF", ELF_HEAD, true},
        {"gzip-compressed ELF", gzipped(ELF_HEAD), true},
        {"text", "this is not a kernel\n", false},
        {"three bytes of ELF magic", "\x7f" "EL", false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device.writeFile("Storage Card/kernel", c.bytes);
        BootContext context;
        context.fileManagerKind = FILE_MANAGER_FAT;
        ASSERT_TRUE(context.create());
        ASSERT_TRUE(context.fileManagerSlot->setLocation(u"\\Storage Card\\"));
        ASSERT_TRUE(context.fileManagerSlot->open(u"kernel", 3));
        log.clear();

        EXPECT_EQ(context.chooseLoader(), c.elf ? ce::TRUE : ce::FALSE);
        if (c.elf) {
            EXPECT_NE(dynamic_cast<ElfLoader*>(context.loader.get()), nullptr);
            EXPECT_FALSE(log.contains(u"unknown file format.\n")) << log.utf8();
        } else {
            EXPECT_EQ(context.loader, nullptr);
            EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"unknown file format.\n"});
        }
        context.fileManagerSlot->close();
    }
}

TEST_F(BootContextTest, ChooseLoaderReplacesAnEarlierLoader) {
    device.writeFile("Storage Card/kernel", ELF_HEAD);
    BootContext context;
    ASSERT_TRUE(context.create());
    ASSERT_TRUE(context.fileManagerSlot->setLocation(u"\\Storage Card\\"));
    ASSERT_TRUE(context.fileManagerSlot->open(u"kernel", 3));
    context.loader = std::make_unique<LoaderDouble>(script, context.consoleSlot, context.memoryManagerSlot);
    ASSERT_TRUE(context.chooseLoader());
    EXPECT_EQ(script.count("loader.~"), 1);
    EXPECT_NE(dynamic_cast<ElfLoader*>(context.loader.get()), nullptr);
}

// The factory behind chooseLoader, for the formats the probe can name.
struct ExposedContext : BootContext {
    using BootContext::makeLoader;
};

TEST_F(BootContextTest, FormatOneIsElfTwoIsCoffAnythingElseNone) {
    ExposedContext context;
    struct Case {
        LoaderFormat format;
        const std::type_info* type;
    };
    const Case cases[] = {{LoaderFormat::Unknown, nullptr},
                          {LoaderFormat::Elf, &typeid(ElfLoader)},
                          {LoaderFormat::Coff, &typeid(CoffLoader)},
                          {static_cast<LoaderFormat>(3), nullptr},
                          {static_cast<LoaderFormat>(-1), nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.format));
        std::unique_ptr<Loader> made = context.makeLoader(c.format);
        if (!c.type) {
            EXPECT_EQ(made, nullptr);
            continue;
        }
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(typeid(*made), *c.type);
    }
}

}  // namespace
