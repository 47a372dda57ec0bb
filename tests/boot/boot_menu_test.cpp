// The boot options: defaults, the configuration file on the storage card, the
// directory and platform lists, and the services the boot path uses.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "hardware/cpu_models.h"
#include "boot/boot_menu.h"
#include "platform/coredll.h"
#include "sim/utf.h"
#include "support/device.h"
#include "support/log_capture.h"
#include "support/component_doubles.h"

using namespace quorvel;
using testing_support::LogCapture;
using testing_support::TestDevice;

namespace {

const char16_t NETWORK[] = u"\u30CD\u30C3\u30C8\u30EF\u30FC\u30AF";
const char16_t MEMORY_CARD[] = u"\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E";

// The options as the test sees them, independent of the record's layout.
struct Options {
    std::uint32_t magic = 0x177D5753;
    std::uint32_t version = 258;
    std::uint32_t recordSize = 2152;
    std::uint32_t kernelDirectorySet = 0;
    std::u16string kernelDirectory;
    std::uint32_t kernelNameSet = 0;
    std::u16string kernelName;
    std::uint32_t cpu = 0, machine = 0;
    std::int32_t rootFileSystem = 0;
    std::u16string fileSystemImage = u"miniroot.fs";
    std::uint32_t serialConsole = 0, bootVerbose = 0, bootSingleUser = 0, askFileName = 0, kernelDebugger = 0;
    std::int32_t autoBootSeconds = 0;
    std::uint32_t reverseVideo = 0, pauseBeforeBoot = 1, loadDebugInfo = 0, safetyMessage = 1;
    std::uint32_t serialSpeed = 19200;
    std::u16string extraKernelOptions;
};

// Options of a run that changed every one of them.
Options anotherRun() {
    Options o;
    o.kernelDirectorySet = 1;
    o.kernelDirectory = u"http://192.168.0.1/pub/";
    o.kernelNameSet = 1;
    o.kernelName = u"tamsel-\u30AB.gz";
    o.cpu = CPU_WORD_SA1110;
    o.machine = 0x02C20201;
    o.rootFileSystem = 2;
    o.fileSystemImage = u"root.fs.gz";
    o.serialConsole = 1;
    o.bootSingleUser = 1;
    o.kernelDebugger = 1;
    o.autoBootSeconds = 10;
    o.reverseVideo = 1;
    o.pauseBeforeBoot = 0;
    o.loadDebugInfo = 1;
    o.safetyMessage = 0;
    o.serialSpeed = 115200;
    o.extraKernelOptions = u"-x\tconsole=fb";
    return o;
}

void put32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

// A wide string in `units` code units; `filler` is what follows the terminator.
void putWide(std::string& bytes, std::size_t offset, const std::u16string& text, std::size_t units, char16_t filler = 0) {
    for (std::size_t i = 0; i < units; ++i) {
        char16_t c = i < text.size() ? text[i] : i == text.size() ? 0 : filler;
        bytes[offset + 2 * i] = static_cast<char>(c & 0xFF);
        bytes[offset + 2 * i + 1] = static_cast<char>(c >> 8);
    }
}

// The configuration file as the device keeps it: 2152 bytes, little-endian.
std::string encode(const Options& o, char16_t filler = 0) {
    std::string bytes(2152, '\0');
    put32(bytes, 0, o.magic);
    put32(bytes, 4, o.version);
    put32(bytes, 8, o.recordSize);
    put32(bytes, 12, 0);
    put32(bytes, 16, o.kernelDirectorySet);
    putWide(bytes, 20, o.kernelDirectory, 260, filler);
    put32(bytes, 540, o.kernelNameSet);
    putWide(bytes, 544, o.kernelName, 260, filler);
    put32(bytes, 1064, o.cpu);
    put32(bytes, 1068, o.machine);
    put32(bytes, 1072, static_cast<std::uint32_t>(o.rootFileSystem));
    putWide(bytes, 1076, o.fileSystemImage, 260, filler);
    put32(bytes, 1596, o.serialConsole);
    put32(bytes, 1600, o.bootVerbose);
    put32(bytes, 1604, o.bootSingleUser);
    put32(bytes, 1608, o.askFileName);
    put32(bytes, 1612, o.kernelDebugger);
    put32(bytes, 1616, static_cast<std::uint32_t>(o.autoBootSeconds));
    put32(bytes, 1620, o.reverseVideo);
    put32(bytes, 1624, o.pauseBeforeBoot);
    put32(bytes, 1628, o.loadDebugInfo);
    put32(bytes, 1632, o.safetyMessage);
    put32(bytes, 1636, o.serialSpeed);
    putWide(bytes, 1640, o.extraKernelOptions, 256, filler);
    return bytes;
}

void apply(BootMenu& menu, const Options& o) {
    menu.kernelDirectorySet = static_cast<ce::BOOL>(o.kernelDirectorySet);
    ce::wcsncpy(menu.kernelDirectory, o.kernelDirectory.c_str(), PATH_SIZE);
    menu.kernelNameSet = static_cast<ce::BOOL>(o.kernelNameSet);
    ce::wcsncpy(menu.kernelName, o.kernelName.c_str(), PATH_SIZE);
    menu.platform = {o.cpu, o.machine};
    menu.rootFileSystem = o.rootFileSystem;
    ce::wcsncpy(menu.fileSystemImage, o.fileSystemImage.c_str(), PATH_SIZE);
    menu.serialConsole = static_cast<ce::BOOL>(o.serialConsole);
    menu.bootVerbose = static_cast<ce::BOOL>(o.bootVerbose);
    menu.bootSingleUser = static_cast<ce::BOOL>(o.bootSingleUser);
    menu.askFileName = static_cast<ce::BOOL>(o.askFileName);
    menu.kernelDebugger = static_cast<ce::BOOL>(o.kernelDebugger);
    menu.autoBootSeconds = o.autoBootSeconds;
    menu.reverseVideo = static_cast<ce::BOOL>(o.reverseVideo);
    menu.pauseBeforeBoot = static_cast<ce::BOOL>(o.pauseBeforeBoot);
    menu.loadDebugInfo = static_cast<ce::BOOL>(o.loadDebugInfo);
    menu.safetyMessage = static_cast<ce::BOOL>(o.safetyMessage);
    menu.serialSpeed = o.serialSpeed;
    ce::wcsncpy(menu.extraKernelOptions, o.extraKernelOptions.c_str(), EXTRA_OPTIONS_SIZE);
}

// Every option of the menu against the expectation; the string contents of a
// directory or name whose set flag is clear carry no meaning and are not compared.
void expectOptions(const BootMenu& menu, const Options& o) {
    EXPECT_EQ(menu.magic, o.magic);
    EXPECT_EQ(menu.version, 258u);
    EXPECT_EQ(menu.recordSize, 2152u);
    EXPECT_EQ(menu.reserved, 0u);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.kernelDirectorySet), o.kernelDirectorySet);
    if (o.kernelDirectorySet) {
        EXPECT_EQ(std::u16string(menu.kernelDirectory), o.kernelDirectory);
    }
    EXPECT_EQ(static_cast<std::uint32_t>(menu.kernelNameSet), o.kernelNameSet);
    if (o.kernelNameSet) {
        EXPECT_EQ(std::u16string(menu.kernelName), o.kernelName);
    }
    EXPECT_EQ(menu.platform.cpu, o.cpu);
    EXPECT_EQ(menu.platform.machine, o.machine);
    EXPECT_EQ(menu.rootFileSystem, o.rootFileSystem);
    EXPECT_EQ(std::u16string(menu.fileSystemImage), o.fileSystemImage);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.serialConsole), o.serialConsole);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.bootVerbose), o.bootVerbose);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.bootSingleUser), o.bootSingleUser);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.askFileName), o.askFileName);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.kernelDebugger), o.kernelDebugger);
    EXPECT_EQ(menu.autoBootSeconds, o.autoBootSeconds);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.reverseVideo), o.reverseVideo);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.pauseBeforeBoot), o.pauseBeforeBoot);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.loadDebugInfo), o.loadDebugInfo);
    EXPECT_EQ(static_cast<std::uint32_t>(menu.safetyMessage), o.safetyMessage);
    EXPECT_EQ(menu.serialSpeed, o.serialSpeed);
    EXPECT_EQ(std::u16string(menu.extraKernelOptions), o.extraKernelOptions);
    // Never loaded from the file.
    EXPECT_EQ(menu.mainWindow, nullptr);
    EXPECT_EQ(menu.mainTab, nullptr);
    EXPECT_EQ(menu.optionTab, nullptr);
    EXPECT_EQ(menu.consoleTab, nullptr);
    EXPECT_EQ(menu.bootHook, nullptr);
    EXPECT_EQ(menu.bootHookArgument, 0u);
    EXPECT_EQ(menu.debugBits, 0u);
    for (const DebugHook& hook : menu.debugHooks) {
        EXPECT_EQ(hook.function, nullptr);
        EXPECT_EQ(hook.argument, 0u);
    }
}

std::set<std::string> folderContents(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

class BootMenuTest : public ::testing::Test {
protected:
    TestDevice device;
    void writeConfiguration(const std::string& bytes) { device.writeFile("Storage Card/quorvel.cnf", bytes); }
    std::string configuration() const { return device.readFile("Storage Card/quorvel.cnf"); }
};

TEST_F(BootMenuTest, WithoutAFileEveryOptionHasItsDefault) {
    BootMenu menu;
    expectOptions(menu, Options{});
    EXPECT_EQ(std::u16string(menu.kernelDirectory), u"");
    EXPECT_EQ(std::u16string(menu.kernelName), u"");
}

TEST_F(BootMenuTest, SavedFileIsTheRecordByteForByte) {
    BootMenu menu;
    apply(menu, anotherRun());
    ASSERT_TRUE(menu.saveOptions());
    EXPECT_EQ(configuration(), encode(anotherRun()));
    EXPECT_EQ(folderContents(device.card()), std::set<std::string>{"quorvel.cnf"});

    BootMenu defaults;
    apply(defaults, Options{});
    ASSERT_TRUE(defaults.saveOptions());
    EXPECT_EQ(configuration(), encode(Options{}));
}

TEST_F(BootMenuTest, FileFromAnotherRunRestoresEveryOption) {
    Options file = anotherRun();
    file.version = 300;  // any version is taken on its magic alone
    writeConfiguration(encode(file, u'Z'));
    BootMenu menu;
    expectOptions(menu, anotherRun());
}

TEST_F(BootMenuTest, SavedOptionsComeBackInTheNextRun) {
    {
        BootMenu first;
        apply(first, anotherRun());
        ASSERT_TRUE(first.saveOptions());
    }
    BootMenu second;
    expectOptions(second, anotherRun());
}

TEST_F(BootMenuTest, UnusableOrPartialFilesFallBackToDefaults) {
    Options shortRecord;  // up to the kernel name
    shortRecord.kernelDirectorySet = 1;
    shortRecord.kernelDirectory = anotherRun().kernelDirectory;
    shortRecord.kernelNameSet = 1;
    shortRecord.kernelName = anotherRun().kernelName;
    Options cutAt1600 = anotherRun();  // up to serialConsole
    cutAt1600.bootSingleUser = cutAt1600.kernelDebugger = 0;
    cutAt1600.autoBootSeconds = 0;
    cutAt1600.reverseVideo = 0;
    cutAt1600.pauseBeforeBoot = 1;
    cutAt1600.loadDebugInfo = 0;
    cutAt1600.safetyMessage = 1;
    cutAt1600.serialSpeed = 19200;
    cutAt1600.extraKernelOptions = u"";
    Options noTerminator = anotherRun();
    noTerminator.kernelName = std::u16string(259, u'A');

    const std::string good = encode(anotherRun());
    struct Case {
        const char* what;
        std::function<std::string()> file;
        Options expected;
    } cases[] = {
        {"wrong magic", [&] { std::string b = good; b[0] = 0x54; return b; }, Options{}},
        {"magic only", [&] { return good.substr(0, 4); }, Options{}},
        {"empty file", [] { return std::string(); }, Options{}},
        {"record size 1064", [&] { std::string b = good; put32(b, 8, 1064); return b; }, shortRecord},
        {"record size 1066 takes no half word", [&] { std::string b = good; put32(b, 8, 1066); return b; }, shortRecord},
        {"file cut at 1600", [&] { return good.substr(0, 1600); }, cutAt1600},
        {"record size beyond the record",
         [&] {
             std::string b = good;
             put32(b, 8, 0xFFFFFFFF);
             return b + std::string(4096, '\xFF');
         },
         anotherRun()},
        {"record size a little beyond", [&] { std::string b = good; put32(b, 8, 2160); return b + std::string(8, '\x01'); },
         anotherRun()},
        {"a name without terminator",
         [&] {
             std::string b = good;
             putWide(b, 544, std::u16string(260, u'A'), 260);
             return b;
         },
         noTerminator},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeConfiguration(c.file());
        BootMenu menu;
        expectOptions(menu, c.expected);
    }
}

TEST_F(BootMenuTest, FailedSecondReadFallsBackToDefaults) {
    writeConfiguration(encode(anotherRun()));
    device->faults().failOnCall("ReadFile", 1);
    BootMenu menu;
    expectOptions(menu, Options{});
}

struct CardCase {
    const char* what;
    std::vector<std::u16string> cards;
    std::vector<std::string> plainFolders;
    const char16_t* expected;  // null: none
};

TEST(StorageCardDirectory, FirstTemporaryFolderThatIsNotTheNetwork) {
    const CardCase cases[] = {
        {"the usual card", {u"Storage Card"}, {}, u"Storage Card"},
        {"no card", {}, {"My Documents"}, nullptr},
        {"only the network folder", {NETWORK}, {}, nullptr},
        {"the network folder comes first and is passed over", {NETWORK, MEMORY_CARD}, {}, MEMORY_CARD},
        {"plain folders are passed over", {u"Storage Card", u"Storage Card2"}, {"A Folder", "My Documents"}, u"Storage Card"},
        {"the first of two cards", {u"SD Card", u"Storage Card"}, {}, u"SD Card"},
    };
    for (const CardCase& c : cases) {
        SCOPED_TRACE(c.what);
        sim::DeviceSettings settings;
        settings.storageCards = c.cards;
        TestDevice device(settings);
        for (const std::string& folder : c.plainFolders) device.writeFile(folder + "/file.txt", "x");
        device.writeFile("Storage Card.txt", "not a folder");
        ce::WCHAR name[PATH_SIZE];
        std::fill(std::begin(name), std::end(name), u'?');
        bool found = storageCardDirectory(name);
        EXPECT_EQ(found, c.expected != nullptr);
        if (c.expected && found) {
            EXPECT_EQ(std::u16string(name), c.expected);
        }
    }
}

TEST(StorageCardDirectory, FailsWhenTheRootCannotBeSearched) {
    TestDevice device;
    device->faults().failAlways("FindFirstFileW");
    ce::WCHAR name[PATH_SIZE];
    EXPECT_FALSE(storageCardDirectory(name));
}

TEST(BootMenuCards, OnlyTheNetworkFolderMeansNothingIsLoadedOrSaved) {
    sim::DeviceSettings settings;
    settings.storageCards = {NETWORK};
    TestDevice device(settings);
    const std::filesystem::path network = device.root() / sim::toUtf8(NETWORK);
    const std::string file = encode(anotherRun());
    device.writeFile(network / "quorvel.cnf", file);

    BootMenu menu;
    expectOptions(menu, Options{});
    EXPECT_FALSE(menu.saveOptions());
    EXPECT_EQ(folderContents(network), std::set<std::string>{"quorvel.cnf"});
    EXPECT_EQ(device.readFile(network / "quorvel.cnf"), file);
    EXPECT_EQ(folderContents(device.root()), std::set<std::string>{sim::toUtf8(NETWORK)});
}

TEST(BootMenuCards, TheFileLivesOnTheFirstCard) {
    sim::DeviceSettings settings;
    settings.storageCards = {u"SD Card", u"Storage Card"};
    TestDevice device(settings);
    BootMenu menu;
    apply(menu, anotherRun());
    ASSERT_TRUE(menu.saveOptions());
    EXPECT_EQ(device.readFile("SD Card/quorvel.cnf"), encode(anotherRun()));
    EXPECT_TRUE(folderContents(device.card()).empty());
}

TEST_F(BootMenuTest, ACutShortSaveKeepsThePreviousFile) {
    const std::string previous = encode(anotherRun());
    auto onScratch = [](const sim::FaultCall& call) { return call.name.ends_with(u".tmp"); };
    struct Case {
        const char* what;
        std::function<void(sim::Faults&)> arrange;
    } cases[] = {
        {"short write", [&](sim::Faults& f) { f.failWhen("WriteFile", onScratch, 100); }},
        {"write fails", [&](sim::Faults& f) { f.failWhen("WriteFile", onScratch); }},
        {"write stops one byte short", [&](sim::Faults& f) { f.failWhen("WriteFile", onScratch, 2151); }},
        {"new file cannot be made", [&](sim::Faults& f) { f.failWhen("CreateFileW", onScratch); }},
        {"new file cannot be flushed", [&](sim::Faults& f) { f.failWhen("FlushFileBuffers", onScratch); }},
        {"new file cannot take the old one's place", [&](sim::Faults& f) { f.failWhen("MoveFileExW", onScratch); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeConfiguration(previous);
        BootMenu menu;
        apply(menu, Options{});
        c.arrange(device->faults());
        EXPECT_FALSE(menu.saveOptions());
        device->faults().clear();
        EXPECT_EQ(configuration(), previous);
        EXPECT_EQ(folderContents(device.card()), std::set<std::string>{"quorvel.cnf"});
    }
}

TEST_F(BootMenuTest, ASaveReplacesThePreviousFile) {
    writeConfiguration(encode(anotherRun()));
    device.writeFile("Storage Card/quorvel.tmp", "left over from a cut");
    BootMenu menu;
    apply(menu, Options{});
    ASSERT_TRUE(menu.saveOptions());
    EXPECT_EQ(configuration(), encode(Options{}));
    EXPECT_EQ(folderContents(device.card()), std::set<std::string>{"quorvel.cnf"});
}

// The record a menu holds, as its file would hold it.
std::string recordOf(const BootMenu& menu) {
    return std::string(reinterpret_cast<const char*>(static_cast<const BootOptions*>(&menu)), sizeof(BootOptions));
}

// The exit status of a child process, or -1 when it did not exit by itself.
int waitFor(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Runs `body` in a child process that shares the device's folder; its result is
// the child's exit status.
template <typename Body>
pid_t inChild(Body body) {
    pid_t child = fork();
    if (child == 0) _exit(body());
    return child;
}

Options secondRun() {
    Options o;
    o.kernelDirectorySet = 1;
    o.kernelDirectory = u"\\Storage Card\\boot\\";
    o.kernelNameSet = 1;
    o.kernelName = u"second.gz";
    o.rootFileSystem = 1;
    o.autoBootSeconds = 3;
    o.serialSpeed = 9600;
    o.extraKernelOptions = u"-s";
    return o;
}

TEST_F(BootMenuTest, BootsSavingAtOnceNeverLeaveAStartWithoutARecord) {
    constexpr int SAVES = 150;
    constexpr int STARTS = 300;
    const std::string first = encode(anotherRun());
    const std::string second = encode(secondRun());
    writeConfiguration(first);

    auto saver = [](const Options& options) {
        return inChild([&] {
            BootMenu menu;
            apply(menu, options);
            for (int i = 0; i < SAVES; ++i) {
                if (!menu.saveOptions()) return 1;
            }
            return 0;
        });
    };
    pid_t savers[] = {saver(anotherRun()), saver(secondRun())};
    // Exit status 0: every start found one of the two records whole.
    pid_t starter = inChild([&] {
        for (int i = 0; i < STARTS; ++i) {
            BootMenu menu;
            std::string record = recordOf(menu);
            if (record != first && record != second) return 2;
        }
        return 0;
    });
    EXPECT_EQ(waitFor(starter), 0) << "a start found defaults or a mixed record";
    for (pid_t child : savers) EXPECT_EQ(waitFor(child), 0) << "a save failed";
    BootMenu last;
    EXPECT_TRUE(recordOf(last) == first || recordOf(last) == second);
}

// A boot stopped (power lost, process killed) at any call its save makes leaves
// the previous record or the new one, and the next start loads it.
TEST_F(BootMenuTest, ASaveStoppedAtAnyCallLeavesALoadableRecord) {
    constexpr int STOPPED = 3;
    const std::string previous = encode(anotherRun());
    const std::string next = encode(secondRun());
    struct Case {
        const char* what;
        std::uint32_t writeLimit;  // 0: the write goes through whole
    } cases[] = {{"writes go through", 0}, {"the write is cut after 1000 bytes", 1000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (std::uint64_t stopAt = 0;; ++stopAt) {
            SCOPED_TRACE("stopped before call " + std::to_string(stopAt));
            writeConfiguration(previous);
            pid_t child = inChild([&] {
                BootMenu menu;
                apply(menu, secondRun());
                sim::Faults& faults = device->faults();
                if (c.writeLimit) {
                    faults.failWhen("WriteFile", [](const sim::FaultCall& call) { return call.name.ends_with(u".tmp"); },
                                    c.writeLimit);
                }
                std::uint64_t calls = 0;
                faults.watch([&](const sim::FaultCall&) {
                    if (calls++ == stopAt) _exit(STOPPED);
                });
                return menu.saveOptions() ? 0 : 1;
            });
            int status = waitFor(child);
            ASSERT_TRUE(status == STOPPED || status == 0 || status == 1) << status;
            BootMenu started;
            const std::string record = recordOf(started);
            EXPECT_TRUE(record == previous || record == next);
            if (status == STOPPED) continue;
            // The save ran to its end: it kept its word.
            EXPECT_EQ(record, status == 0 ? next : previous);
            EXPECT_GT(stopAt, 2u);
            break;
        }
    }
}

TEST_F(BootMenuTest, OnlyTheBackupOfAnEarlierCutSaveIsLoaded) {
    device.writeFile("Storage Card/quorvel.bak", encode(anotherRun()));
    BootMenu menu;
    expectOptions(menu, anotherRun());
    apply(menu, secondRun());
    ASSERT_TRUE(menu.saveOptions());
    EXPECT_EQ(folderContents(device.card()), std::set<std::string>{"quorvel.cnf"});
    EXPECT_EQ(configuration(), encode(secondRun()));
}

TEST_F(BootMenuTest, DirectoryEntriesComeFromTheStringTable) {
    BootMenu menu;
    struct Case {
        int index;
        const char16_t* text;  // null: none
    } cases[] = {
        {0, u"/"},
        {1, u"2:/"},
        {2, u"SMC1:/"},
        {3, u"\\"},
        {4, u"\\My Documents\\"},
        {5, u"\\Storage Card\\"},
        {8, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E\\"},
        {10, u"\\\uFF92\uFF93\uFF98 \uFF76\uFF70\uFF84\uFF9E2\\"},
        {13, u"\\miniSD\uFF76\uFF70\uFF84\uFF9E\\"},
        {14, u"\\microSD\u30AB\u30FC\u30C9\\"},
        {15, u"user defined"},
        {16, nullptr},
        {-1, nullptr},
        {-2, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        const ce::WCHAR* entry = menu.directoryEntry(c.index);
        if (!c.text) {
            EXPECT_EQ(entry, nullptr);
        } else {
            ASSERT_NE(entry, nullptr);
            EXPECT_EQ(std::u16string(entry), c.text);
        }
    }
    EXPECT_EQ(menu.directorySelection(), 0);

    ce::wcsncpy(menu.kernelDirectory, u"http://192.168.0.1/", PATH_SIZE);
    EXPECT_EQ(std::u16string(menu.directoryEntry(15)), u"user defined");
    menu.kernelDirectorySet = ce::TRUE;
    EXPECT_EQ(std::u16string(menu.directoryEntry(15)), u"http://192.168.0.1/");
    EXPECT_EQ(std::u16string(menu.directoryEntry(14)), u"\\microSD\u30AB\u30FC\u30C9\\");
    EXPECT_EQ(menu.directoryEntry(16), nullptr);
    EXPECT_EQ(menu.directorySelection(), 15);
}

const char16_t* const selectableNames[] = {
    u"Sharp W-ZERO3 (WS003SH)",    u"Sharp W-ZERO3 (WS004SH)",   u"Sharp W-ZERO3[es] (WS007SH)",
    u"Sharp Advanced/W-ZERO3[es] (WS011SH)", u"Sharp WILLCOM 03 (WS020SH)", u"Compaq iPAQ H3100",
    u"Compaq iPAQ H3600",          u"Compaq iPAQ H3660",         u"Compaq iPAQ H3900",
    u"HP Jornada 720 (US/UK)",     u"HP Jornada 720 (Japanese)", u"HP Jornada 720 (European)",
    u"HP Jornada 720 (German)",    u"HP Jornada 720 (French)",   u"HP Jornada 720 (Scandinavian)",
    u"HP Jornada 720 (Spanish)",   u"HP Jornada 820",            u"HP Jornada 820 (Japanese)",
    u"PSIONTEKLOGIX NETBOOK PRO",
};

TEST_F(BootMenuTest, PlatformEntriesNameSelectAndFindTheSelectablePlatforms) {
    BootMenu menu;
    for (int i = 0; i < 19; ++i) {
        SCOPED_TRACE(i);
        auto name = reinterpret_cast<const ce::WCHAR*>(menu.platformEntry(i, 0));
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(std::u16string(name), selectableNames[i]);
        EXPECT_EQ(menu.platformEntry(i, 1), 0u);
        EXPECT_EQ(std::u16string(platformName(menu.platform)), selectableNames[i]);
        EXPECT_EQ(menu.platformEntry(0, 2), static_cast<std::uintptr_t>(i));
    }
}

TEST_F(BootMenuTest, PlatformEntryEdges) {
    BootMenu menu;
    EXPECT_EQ(menu.platformEntry(22, 0), 0u);
    EXPECT_EQ(menu.platformEntry(-1, 0), 0u);
    EXPECT_EQ(menu.platformEntry(0, 2), 0u);  // (0, 0) is no selectable entry

    menu.platformEntry(9, 1);
    const PlatformId jornada720 = {CPU_WORD_SA1110, 0x02C20201};
    EXPECT_EQ(menu.platform, jornada720);
    EXPECT_EQ(menu.platformEntry(22, 1), 0u);
    EXPECT_EQ(menu.platform, jornada720);
    EXPECT_EQ(menu.platformEntry(-1, 1), 0u);
    EXPECT_EQ(menu.platform, jornada720);
    EXPECT_EQ(menu.platformEntry(3, 3), 0u);
    EXPECT_EQ(menu.platformEntry(3, -1), 0u);
    EXPECT_EQ(menu.platform, jornada720);

    menu.platform = {CPU_WORD_SA1110, 0};  // a row, but not a selectable one
    EXPECT_EQ(menu.platformEntry(0, 2), 0u);
    menu.platform = {CPU_WORD_SA1110, 0x02C20209};  // no row at all
    EXPECT_EQ(menu.platformEntry(0, 2), 0u);
    menu.platform = {CPU_WORD_PXA250, 0x04010100};
    EXPECT_EQ(menu.platformEntry(0, 2), 18u);
}

std::vector<std::uint32_t> hookCalls;
void recordHook(std::uint32_t argument) { hookCalls.push_back(argument); }

TEST_F(BootMenuTest, StartBootAlwaysReachesTheHook) {
    BootMenu menu;
    const PlatformId platforms[] = {{0, 0}, {CPU_WORD_SA1110, 0x02C20201}, {CPU_WORD_PXA270, 0x01040500}, {0x12345678, 0x9ABCDEF0}};
    for (ce::BOOL safety : {ce::TRUE, ce::FALSE}) {
        for (const PlatformId& platform : platforms) {
            SCOPED_TRACE(testing::Message() << safety << " " << std::hex << platform.cpu << "/" << platform.machine);
            hookCalls.clear();
            menu.safetyMessage = safety;
            menu.platform = platform;
            menu.bootHook = recordHook;
            menu.bootHookArgument = 0x5A5A;
            menu.startBoot();
            EXPECT_EQ(hookCalls, std::vector<std::uint32_t>{0x5A5A});
        }
    }
    EXPECT_TRUE(device->messageBoxes().shown().empty());
    menu.bootHook = nullptr;
    menu.startBoot();  // nothing to start
}

// The main window object, windowless, counting what the BootMenu asks of it.
class FakeMainWindow : public BootWindow {
public:
    ce::HWND messageOwner() const override { return reinterpret_cast<ce::HWND>(0x4242); }
    void progressStep(const char* label) override {
        ++steps;
        testing_support::logProgress(label);
    }
    void progressReset() override { ++resets; }
    int steps = 0;
    int resets = 0;
};

// A windowless tab page noting each time it is asked to collect.
class RecordingTab : public OptionSource {
public:
    RecordingTab(BootMenu& target, std::vector<std::string>& journal, std::string label)
        : menu(target), calls(journal), name(std::move(label)) {}
    void collect() override {
        calls.push_back(name);
        menu.autoBootSeconds += 1;
    }
    BootMenu& menu;
    std::vector<std::string>& calls;
    std::string name;
};

TEST_F(BootMenuTest, CollectOptionsAsksTheMainThenTheOptionTab) {
    BootMenu menu;
    menu.collectOptions();  // no tabs yet
    std::vector<std::string> calls;
    RecordingTab mainTab(menu, calls, "main");
    RecordingTab optionTab(menu, calls, "option");
    menu.optionTab = &optionTab;
    menu.collectOptions();
    menu.mainTab = &mainTab;
    menu.collectOptions();
    EXPECT_EQ(calls, (std::vector<std::string>{"option", "main", "option"}));
    EXPECT_EQ(menu.autoBootSeconds, 3);
}

class RecordingConsolePage : public BootLog {
public:
    void appendLog(const ce::WCHAR* text, bool toWindow) override {
        texts.emplace_back(text);
        flags.push_back(toWindow);
    }
    std::vector<std::u16string> texts;
    std::vector<bool> flags;
};

TEST_F(BootMenuTest, LogTextGoesToTheConsoleTabOnly) {
    BootMenu menu;
    menu.logText(u"dropped\n");
    RecordingConsolePage page;
    menu.consoleTab = &page;
    menu.logText(u"BOOT START\n");
    EXPECT_EQ(page.texts, std::vector<std::u16string>{u"BOOT START\n"});
    EXPECT_EQ(page.flags, std::vector<bool>{false});
}

TEST_F(BootMenuTest, MainWindowHandleIsNullWithoutAWindow) {
    BootMenu menu;
    EXPECT_EQ(menu.mainWindowHandle(), nullptr);
    FakeMainWindow window;
    menu.mainWindow = &window;
    EXPECT_EQ(menu.mainWindowHandle(), window.messageOwner());
}

class TheBootMenuTest : public BootMenuTest {
protected:
    void TearDown() override { releaseBootMenu(); }
};

TEST_F(TheBootMenuTest, ProgressLogsTheLabelAndStepsTheBar) {
    FakeMainWindow window;
    {
        LogCapture log;
        theBootMenu().progress("3");  // no window yet: logged only
        theBootMenu().mainWindow = &window;
        theBootMenu().progress("4");
        theBootMenu().progress(nullptr);
        theBootMenu().progressDone();
        EXPECT_EQ(log.text(), u"[progress] 3\n[progress] 4\n");
    }
    EXPECT_EQ(window.steps, 2);
    EXPECT_EQ(window.resets, 1);
    theBootMenu().mainWindow = nullptr;
    theBootMenu().progressDone();
    EXPECT_EQ(window.resets, 1);
}

TEST_F(TheBootMenuTest, OneMenuUntilReleasedThenFreshFromTheFile) {
    BootMenu& first = theBootMenu();
    EXPECT_EQ(&theBootMenu(), &first);
    apply(first, anotherRun());
    ASSERT_TRUE(first.saveOptions());
    first.serialSpeed = 9600;  // not saved
    releaseBootMenu();
    expectOptions(theBootMenu(), anotherRun());
}

}  // namespace
