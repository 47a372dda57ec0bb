// The simulated handheld behind the OS boundary: files and storage cards, COM1,
// message boxes, faults, virtual memory over simulated DRAM, device windows.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "platform/address.h"
#include "platform/coredll.h"
#include "platform/registers.h"
#include "support/device.h"

using namespace ce;
using testing_support::TestDevice;

namespace {

std::u16string name(const WIN32_FIND_DATAW& data) { return data.cFileName; }

TEST(SimFiles, PathsAreCaseInsensitiveBelowTheRoot) {
    TestDevice device;
    device.writeFile("Storage Card/Tamsel.GZ", "kernel");
    HANDLE h = CreateFileW(u"\\storage card\\tamsel.gz", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(h, nullptr), 6u);
    char buffer[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "kernel");
    EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
    EXPECT_TRUE(ReadFile(h, buffer, 2, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "rn");
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));

    EXPECT_EQ(CreateFileW(u"\\Storage Card\\missing", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(CreateFileW(u"\\..\\etc\\passwd", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST(SimFiles, WritingCreatesAndMovingRefusesToReplace) {
    TestDevice device;
    HANDLE h = CreateFileW(u"\\Storage Card\\new.bin", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    CloseHandle(h);
    EXPECT_EQ(device.readFile("Storage Card/new.bin"), "abc");
    device.writeFile("Storage Card/other.bin", "x");
    EXPECT_FALSE(MoveFileW(u"\\Storage Card\\new.bin", u"\\Storage Card\\other.bin"));
    EXPECT_TRUE(DeleteFileW(u"\\Storage Card\\other.bin"));
    EXPECT_TRUE(MoveFileW(u"\\Storage Card\\new.bin", u"\\Storage Card\\other.bin"));
    EXPECT_EQ(device.readFile("Storage Card/other.bin"), "abc");
}

// Small reads are served from bytes read ahead; the caller's position, writes through
// the same or another handle, and seeks all see the file as if each read went to it.
TEST(SimFiles, ReadsAheadWithoutChangingWhatTheCallerSees) {
    TestDevice device;
    std::string content;
    for (int i = 0; content.size() < 200000; ++i) content += std::to_string(i) + ",";
    device.writeFile("Storage Card/f", content);
    HANDLE reader = CreateFileW(u"\\Storage Card\\f", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE writer = CreateFileW(u"\\Storage Card\\f", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    auto readSome = [&](DWORD length) {
        std::string bytes(length, '\0');
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(reader, bytes.data(), length, &read, nullptr));
        bytes.resize(read);
        return bytes;
    };
    DWORD written = 0;
    EXPECT_EQ(readSome(1000), content.substr(0, 1000));

    // Another handle changes bytes just ahead of the reader.
    ASSERT_EQ(SetFilePointer(writer, 1500, nullptr, FILE_BEGIN), 1500u);
    EXPECT_TRUE(WriteFile(writer, "WXYZ", 4, &written, nullptr));
    content.replace(1500, 4, "WXYZ");
    EXPECT_EQ(readSome(1000), content.substr(1000, 1000));
    EXPECT_EQ(SetFilePointer(reader, 0, nullptr, FILE_CURRENT), 2000u);

    // The reader's own write lands where it stands, and reading goes on behind it.
    EXPECT_TRUE(WriteFile(reader, "abc", 3, &written, nullptr));
    content.replace(2000, 3, "abc");
    EXPECT_EQ(readSome(100), content.substr(2003, 100));
    EXPECT_EQ(SetFilePointer(reader, -50, nullptr, FILE_CURRENT), 2053u);
    EXPECT_EQ(readSome(100), content.substr(2053, 100));

    // A read longer than the read-ahead, one across its end, and the end of the file.
    EXPECT_EQ(readSome(100000), content.substr(2153, 100000));
    EXPECT_EQ(SetFilePointer(reader, static_cast<LONG>(content.size() - 700), nullptr, FILE_BEGIN), content.size() - 700);
    EXPECT_EQ(readSome(1024), content.substr(content.size() - 700));
    EXPECT_EQ(readSome(1024), "");
    CloseHandle(reader);
    CloseHandle(writer);
    EXPECT_EQ(device.readFile("Storage Card/f"), content);
}

TEST(SimFiles, StorageCardFoldersCarryTheTemporaryAttribute) {
    sim::DeviceSettings settings;
    settings.storageCards = {u"Storage Card", u"\u30CD\u30C3\u30C8\u30EF\u30FC\u30AF"};
    TestDevice device(settings);
    device.writeFile("My Documents/note.txt", "n");
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(u"\\*.*", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    std::map<std::u16string, DWORD> seen;
    do seen[name(data)] = data.dwFileAttributes;
    while (FindNextFileW(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(find));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[u"Storage Card"], FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
    EXPECT_EQ(seen[u"My Documents"], FILE_ATTRIBUTE_DIRECTORY);
}

TEST(SimFiles, FaultsFailOrShortenChosenCalls) {
    TestDevice device;
    device.writeFile("Storage Card/f", "0123456789");
    device->faults().failWhen("ReadFile", [](const sim::FaultCall& call) { return call.index == 1; }, 3);
    device->faults().failOnCall("ReadFile", 2);
    HANDLE h = CreateFileW(u"\\Storage Card\\f", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char buffer[10];
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(h, buffer, 2, &read, nullptr));
    EXPECT_EQ(read, 2u);
    EXPECT_TRUE(ReadFile(h, buffer, 8, &read, nullptr));
    EXPECT_EQ(read, 3u);  // cut short
    EXPECT_FALSE(ReadFile(h, buffer, 8, &read, nullptr));
    EXPECT_EQ(read, 0u);
    CloseHandle(h);
}

TEST(SimCom1, OpensOnceAndRecordsEachWrite) {
    TestDevice device;
    HANDLE com = CreateFileW(u"COM1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(com, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileW(u"COM1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(com, &dcb));
    EXPECT_EQ(dcb.ByteSize, 8);
    dcb.BaudRate = 115200;
    ASSERT_TRUE(SetCommState(com, &dcb));
    EXPECT_EQ(device->com1().baudRate, 115200u);
    DWORD written;
    WriteFile(com, "a", 1, &written, nullptr);
    WriteFile(com, "bc", 2, &written, nullptr);
    EXPECT_EQ(device->com1().writes, (std::vector<std::string>{"a", "bc"}));
    device->faults().failAlways("GetCommState");
    EXPECT_FALSE(GetCommState(com, &dcb));
}

TEST(SimMessageBoxes, ScriptedAnswersThenPolicy) {
    TestDevice device;
    device->messageBoxes().script(IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, u"Push YES to boot.", u"Last chance...", 0x34), IDNO);
    EXPECT_EQ(MessageBoxW(nullptr, u"q", u"c", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxW(nullptr, u"m", u"BOOT FAILED", MB_ICONHAND), IDOK);
    ASSERT_EQ(device->messageBoxes().shown().size(), 3u);
    EXPECT_EQ(device->messageBoxes().shown()[0].caption, u"Last chance...");
    EXPECT_EQ(device->messageBoxes().shown()[0].type, 0x34u);
}

// The frames behind 64 freshly committed pages, each checked to be the page's own.
std::vector<DWORD> commitAndLock(TestDevice& device) {
    DWORD size = 64 * 4096;
    auto* region = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE | PAGE_NOCACHE));
    EXPECT_NE(region, nullptr);
    if (!region) return {};
    EXPECT_EQ(addressOf(region) % 0x10000, 0u);
    auto lockPages = reinterpret_cast<LockPagesRoutine>(GetProcAddressW(LoadLibraryW(u"coredll.dll"), u"LockPages"));
    std::vector<DWORD> frames;
    for (DWORD i = 0; i < 64; ++i) {
        DWORD pfn = 0;
        EXPECT_TRUE(lockPages(region + i * 4096, 4096, &pfn, LOCKFLAG_WRITE));
        EXPECT_EQ(pfn % 4096, 0u);
        EXPECT_GE(pfn, 0xC0000000u);
        EXPECT_LT(pfn, 0xC2000000u);
        frames.push_back(pfn);
        // What the page holds is in the frame at once.
        std::memcpy(region + i * 4096 + 8, &i, 4);
        EXPECT_EQ(device->memory().readWord(sim::PhysicalAddress(pfn + 8)), i);
    }
    EXPECT_TRUE(VirtualFree(region, 0, MEM_RELEASE));
    return frames;
}

TEST(SimMemory, CommittedPagesAreScatteredFramesOfSimulatedRam) {
    struct Case {
        const char* name;
        sim::FrameOrder order;
        std::uint32_t seed;
        DWORD lowestAtLeast;  // where the lowest of the frames may lie
        DWORD lowestBelow;
    };
    const Case cases[] = {
        {"scattered over the whole of RAM, low addresses included", sim::FrameOrder::Scattered, 1, 0xC0000000,
         0xC0800000},
        {"scattered with another seed", sim::FrameOrder::Scattered, 77, 0xC0000000, 0xC0800000},
        {"from the top of RAM downwards", sim::FrameOrder::TopDown, 1, 0xC1000000, 0xC2000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DeviceSettings settings;
        settings.seed = c.seed;
        settings.frameOrder = c.order;
        std::vector<DWORD> frames;
        std::size_t free = 0;
        {
            TestDevice device(settings);
            free = device->memory().freeFrames();
            frames = commitAndLock(device);
        }
        ASSERT_EQ(frames.size(), 64u);
        std::set<DWORD> distinct(frames.begin(), frames.end());
        EXPECT_EQ(distinct.size(), 64u);
        bool ascendingContiguous = true;
        for (std::size_t i = 1; i < frames.size(); ++i) ascendingContiguous = ascendingContiguous && frames[i] == frames[i - 1] + 4096;
        EXPECT_FALSE(ascendingContiguous);
        EXPECT_GE(*distinct.begin(), c.lowestAtLeast);
        EXPECT_LT(*distinct.begin(), c.lowestBelow);
        // The rest of the system holds a share of RAM (about one frame in seven).
        const std::size_t total = (32u << 20) / 4096;
        EXPECT_GT(free, total * 8 / 10);
        EXPECT_LT(free, total * 9 / 10);

        // The same settings give the same frames.
        TestDevice again(settings);
        EXPECT_EQ(commitAndLock(again), frames);
    }
}

TEST(SimMemory, SeedsScatterFramesDifferently) {
    sim::DeviceSettings one, other;
    other.seed = 2;
    std::vector<DWORD> first;
    {
        TestDevice device(one);
        first = commitAndLock(device);
    }
    TestDevice device(other);
    EXPECT_NE(commitAndLock(device), first);
}

TEST(SimMemory, VirtualCopyShowsRamAndDeviceWindows) {
    TestDevice device;
    device->memory().writeWord(sim::PhysicalAddress(0xC0123010), 0xCAFEF00D);
    DWORD window = addressOf(VirtualAlloc(nullptr, 0x2000, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(VirtualCopy(pointerAt(window), reinterpret_cast<LPVOID>(0xC0123000u >> 8), 0x1000,
                            PAGE_READONLY | PAGE_PHYSICAL | PAGE_NOCACHE));
    std::uint32_t word;
    std::memcpy(&word, pointerAt(window + 0x10), 4);
    EXPECT_EQ(word, 0xCAFEF00Du);
    EXPECT_TRUE(VirtualFree(pointerAt(window), 0x1000, MEM_DECOMMIT));

    ASSERT_TRUE(VirtualCopy(pointerAt(window), reinterpret_cast<LPVOID>(0x80050000u >> 8), 0x1000,
                            PAGE_READWRITE | PAGE_PHYSICAL | PAGE_NOCACHE));
    EXPECT_EQ(hw::readRegister8(window + 0x20), 0x4);
    hw::writeRegister8(window + 0x14, 'Q');
    EXPECT_EQ(device->uart()->sent(), "Q");
    EXPECT_EQ(device->uart()->accesses().front(), (sim::RegisterAccess{sim::RegisterAccess::Read, 0x20, 0x4, 8}));
    EXPECT_TRUE(VirtualFree(pointerAt(window), 0, MEM_RELEASE));

    // Nothing lives at an address that is neither RAM nor a device.
    DWORD other = addressOf(VirtualAlloc(nullptr, 0x1000, MEM_RESERVE, PAGE_NOACCESS));
    EXPECT_FALSE(VirtualCopy(pointerAt(other), reinterpret_cast<LPVOID>(0x90000000u >> 8), 0x1000, PAGE_PHYSICAL | PAGE_READWRITE));
    VirtualFree(pointerAt(other), 0, MEM_RELEASE);
}

TEST(SimMemory, PreferredFramesPlaceCommittedPages) {
    TestDevice device;
    device->memory().preferFrames({sim::PhysicalAddress(0xC0200000), sim::PhysicalAddress(0xC0010000)});
    auto* page = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(device->addressSpace().physicalOf(addressOf(page))->value(), 0xC0200000u);
    EXPECT_EQ(device->addressSpace().physicalOf(addressOf(page) + 0x1000)->value(), 0xC0010000u);
}

// Committed pages read zero whatever their frames held before: frames painted behind
// the system's back, and frames given back and committed again. A commit over pages
// committed already keeps what they hold; one that RAM cannot meet takes nothing.
TEST(SimMemory, CommittedPagesStartZeroedAndFailedCommitsTakeNothing) {
    TestDevice device;
    const sim::PhysicalAddress painted(0xC0300000);
    std::memset(device->memory().host(painted), 0xA5, 4096);
    device->memory().preferFrames({painted});
    auto* region = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 0x10000, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(region, nullptr);
    auto allZero = [](const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i)
            if (bytes[i] != 0) return false;
        return true;
    };
    ASSERT_EQ(VirtualAlloc(region + 0x2000, 0x1000, MEM_COMMIT, PAGE_READWRITE), region + 0x2000);
    EXPECT_EQ(device->addressSpace().physicalOf(addressOf(region) + 0x2000)->value(), painted.value());
    EXPECT_TRUE(allZero(region + 0x2000, 0x1000));
    std::memset(region + 0x2000, 0x5A, 0x1000);

    // Pages on both sides of the committed one: it keeps its bytes, the new ones are zero.
    ASSERT_EQ(VirtualAlloc(region, 0x5000, MEM_COMMIT, PAGE_READWRITE), region);
    EXPECT_TRUE(allZero(region, 0x2000));
    EXPECT_EQ(region[0x2000], 0x5A);
    EXPECT_EQ(region[0x2FFF], 0x5A);
    EXPECT_TRUE(allZero(region + 0x3000, 0x2000));

    std::memset(region, 0x77, 0x5000);
    ASSERT_TRUE(VirtualFree(region, 0x5000, MEM_DECOMMIT));
    ASSERT_EQ(VirtualAlloc(region, 0x5000, MEM_COMMIT, PAGE_READWRITE), region);
    EXPECT_TRUE(allZero(region, 0x5000));
    EXPECT_TRUE(VirtualFree(region, 0, MEM_RELEASE));

    // More than RAM has left: nothing is taken, and the same pages can be had later.
    const std::size_t free = device->memory().freeFrames();
    const auto tooMany = static_cast<DWORD>((free + 1) * 4096);
    EXPECT_EQ(VirtualAlloc(nullptr, tooMany, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(device->memory().freeFrames(), free);
    auto* most = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, tooMany - 4096, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(most, nullptr);
    EXPECT_EQ(device->memory().freeFrames(), 0u);
    most[tooMany - 4097] = 1;
    EXPECT_TRUE(VirtualFree(most, 0, MEM_RELEASE));
    EXPECT_EQ(device->memory().freeFrames(), free);
}

TEST(SimSystem, CoredllExportsAndDeviceSettings) {
    sim::DeviceSettings settings;
    settings.coredllExportsGetVersionEx = false;
    settings.bitsPerPixel = 8;
    TestDevice device(settings);
    HMODULE coredll = LoadLibraryW(u"coredll.dll");
    ASSERT_NE(coredll, nullptr);
    EXPECT_NE(GetProcAddressW(coredll, u"UnlockPages"), nullptr);
    EXPECT_EQ(GetProcAddressW(coredll, u"GetVersionEx"), nullptr);
    EXPECT_EQ(LoadLibraryW(u"nothere.dll"), nullptr);
    EXPECT_EQ(GetDeviceCaps(GetDC(nullptr), BITSPIXEL), 8);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    EXPECT_TRUE(GetVersionExW(&version));
    EXPECT_EQ(version.dwMajorVersion, 4u);
    LPCWSTR text = nullptr;
    EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), 10002, reinterpret_cast<LPWSTR>(&text), 0), 7);
    EXPECT_EQ(std::u16string(text), u"QUORVEL");

    // Free physical memory is the frames nobody holds, and a commit takes from it.
    MEMORYSTATUS before{}, after{};
    GlobalMemoryStatus(&before);
    EXPECT_EQ(before.dwLength, sizeof before);
    EXPECT_EQ(before.dwTotalPhys, 32u << 20);
    EXPECT_EQ(before.dwAvailPhys, device->memory().freeFrames() * 4096);
    ASSERT_NE(VirtualAlloc(nullptr, 0x10000, MEM_COMMIT, PAGE_READWRITE), nullptr);
    GlobalMemoryStatus(&after);
    EXPECT_EQ(after.dwAvailPhys, before.dwAvailPhys - 0x10000);
    EXPECT_GT(after.dwMemoryLoad, 0u);
}

}  // namespace
