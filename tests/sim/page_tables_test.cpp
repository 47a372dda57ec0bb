// The simulated Windows CE's ARMv4 translation tables: where they live, the
// descriptors each kind of mapping gets, and agreement with the address space.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/address.h"
#include "platform/coredll.h"
#include "support/device.h"

using namespace ce;
using testing_support::TestDevice;

namespace {

constexpr DWORD MB = 0x100000;

std::uint32_t firstLevelDescriptor(sim::Handheld& device, DWORD va) {
    DWORD mva = device.addressSpace().pageTables().modifiedAddress(va);
    return device.memory().readWord(sim::PhysicalAddress(device.cpu().translationBase + (mva >> 20) * 4));
}

std::uint32_t secondLevelDescriptor(sim::Handheld& device, DWORD va) {
    DWORD mva = device.addressSpace().pageTables().modifiedAddress(va);
    std::uint32_t first = firstLevelDescriptor(device, va);
    return device.memory().readWord(sim::PhysicalAddress((first & 0xFFFFFC00u) + ((mva >> 12) & 0xFF) * 4));
}

// The tables say what the address space says, page for page; device pages show the
// device's physical address.
void expectAgreement(sim::Handheld& device, DWORD va, DWORD size) {
    const sim::AddressSpace& space = device.addressSpace();
    for (DWORD page = va; page - va < size; page += 0x1000) {
        SCOPED_TRACE(testing::Message() << std::hex << "va 0x" << page);
        auto translated = space.pageTables().translate(page + 0x123);
        auto physical = space.physicalOf(page + 0x123);
        auto device_register = space.deviceAt(page + 0x123);
        if (device_register) {
            ASSERT_TRUE(translated);
            EXPECT_EQ(translated->value(), device_register->device->base() + device_register->offset);
        } else {
            EXPECT_EQ(translated, physical);
        }
    }
}

DWORD reserve(DWORD size) { return addressOf(VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)); }

bool copyPhysical(DWORD va, DWORD physical, DWORD size, DWORD protect = PAGE_READWRITE) {
    return VirtualCopy(pointerAt(va), reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(physical >> 8)), size,
                       protect | PAGE_PHYSICAL | PAGE_NOCACHE);
}

TEST(SimPageTables, RegistersPointAtTablesKeptInRam) {
    struct Case {
        sim::CpuFamily cpu;
        std::uint32_t ramBase;
    } cases[] = {{sim::CpuFamily::SA11x0, 0xC0000000}, {sim::CpuFamily::PXA2x0, 0xA0000000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ramBase);
        sim::DeviceSettings settings;
        settings.cpu = c.cpu;
        TestDevice device(settings);
        std::uint32_t base = device->cpu().translationBase;
        EXPECT_EQ(base % 0x4000, 0u);
        EXPECT_EQ(base, device->addressSpace().pageTables().firstLevel().value());
        EXPECT_TRUE(device->memory().contains(sim::PhysicalAddress(base), 0x4000));
        EXPECT_GE(base, c.ramBase);
        EXPECT_EQ(device->cpu().processId, 0x02000000u);
        // Nothing is mapped yet.
        for (std::uint32_t i = 0; i < 4096; ++i) ASSERT_EQ(device->memory().readWord(sim::PhysicalAddress(base + i * 4)), 0u);
    }
}

TEST(SimPageTables, LowAddressesAreRelocatedIntoTheProcessSlot) {
    struct Case {
        DWORD va;
        DWORD mva;
    } cases[] = {{0x00120000, 0x02120000}, {0x00000000, 0x02000000}, {0x01FFFFFF, 0x03FFFFFF},
                 {0x02000000, 0x02000000}, {0x42010000, 0x42010000}, {0x2ABCD000, 0x2ABCD000}};
    TestDevice device;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.va);
        EXPECT_EQ(device->addressSpace().pageTables().modifiedAddress(c.va), c.mva);
    }
}

TEST(SimPageTables, EachMappingGetsTheDescriptorItsAlignmentAllows) {
    TestDevice device;
    DWORD area = reserve(4 * MB);
    ASSERT_NE(area, 0u);
    DWORD sectionVa = (area + MB - 1) & ~(MB - 1);

    DWORD committed = addressOf(VirtualAlloc(nullptr, 0x3000, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(committed, 0u);
    ASSERT_TRUE(copyPhysical(sectionVa, 0xC0100000, MB));
    ASSERT_TRUE(copyPhysical(sectionVa + MB, 0xC0230000, 0x10000, PAGE_READONLY));
    ASSERT_TRUE(copyPhysical(sectionVa + MB + 0x10000, 0xC0345000, 0x1000));
    DWORD uart = reserve(0x1000);
    ASSERT_TRUE(copyPhysical(uart, 0x80050000, 0x1000));

    struct Case {
        const char* name;
        DWORD va;
        std::uint32_t firstType;   // bits 1..0 of the first-level descriptor
        std::uint32_t secondType;  // of the second-level one, when there is one
        std::uint32_t physical;
        std::uint32_t access;      // AP bits of the descriptor
    } cases[] = {
        {"committed page", committed + 0x1004, 1, 2, device->addressSpace().physicalOf(committed + 0x1004)->value(), 3},
        {"RAM section", sectionVa + 0x45678, 2, 0, 0xC0145678, 3},
        {"read-only large page", sectionVa + MB + 0xABCD, 1, 1, 0xC023ABCD, 2},
        {"small RAM page", sectionVa + MB + 0x10010, 1, 2, 0xC0345010, 3},
        {"device window", uart + 0x14, 1, 2, 0x80050014, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::uint32_t first = firstLevelDescriptor(*device, c.va);
        EXPECT_EQ(first & 3, c.firstType);
        EXPECT_EQ(first & 0x10, 0x10u);
        if (c.firstType == 2) {
            EXPECT_EQ((first >> 10) & 3, c.access);
        } else {
            std::uint32_t second = secondLevelDescriptor(*device, c.va);
            EXPECT_EQ(second & 3, c.secondType);
            EXPECT_EQ((second >> 4) & 0xFF, c.access * 0x55);
        }
        auto translated = device->addressSpace().pageTables().translate(c.va);
        ASSERT_TRUE(translated);
        EXPECT_EQ(translated->value(), c.physical);
    }
    // A large page fills all sixteen of its entries alike.
    std::uint32_t large = secondLevelDescriptor(*device, sectionVa + MB);
    for (DWORD j = 0; j < 16; ++j) EXPECT_EQ(secondLevelDescriptor(*device, sectionVa + MB + j * 0x1000), large);
    expectAgreement(*device, sectionVa, MB + 0x11000);
}

TEST(SimPageTables, PartialUnmapBreaksUpSectionsAndLargePages) {
    struct Case {
        const char* name;
        DWORD offset;    // of the mapping inside a 1 MB-aligned reservation
        DWORD physical;
        DWORD size;
        DWORD hole;      // offset of the decommitted page inside the mapping
    } cases[] = {
        {"section", 0, 0xC0400000, MB, 0x7F000},
        {"large page", 0x20000, 0xC0510000, 0x10000, 0x3000},
        {"two large pages, last page", 0x40000, 0xC0620000, 0x20000, 0x1F000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDevice device;
        DWORD area = reserve(3 * MB);
        DWORD va = ((area + MB - 1) & ~(MB - 1)) + c.offset;
        ASSERT_TRUE(copyPhysical(va, c.physical, c.size));
        ASSERT_TRUE(VirtualFree(pointerAt(va + c.hole), 0x1000, MEM_DECOMMIT));
        EXPECT_FALSE(device->addressSpace().pageTables().translate(va + c.hole));
        for (DWORD off = 0; off < c.size; off += 0x1000) {
            if (off == c.hole) continue;
            auto translated = device->addressSpace().pageTables().translate(va + off + 8);
            ASSERT_TRUE(translated) << std::hex << off;
            EXPECT_EQ(translated->value(), c.physical + off + 8);
        }
        expectAgreement(*device, va, c.size);
        ASSERT_TRUE(VirtualFree(pointerAt(area), 0, MEM_RELEASE));
        for (DWORD off = 0; off < 3 * MB; off += MB) EXPECT_EQ(firstLevelDescriptor(*device, area + off), 0u);
    }
}

TEST(SimPageTables, FollowCommitDecommitAndRelease) {
    TestDevice device;
    DWORD region = addressOf(VirtualAlloc(nullptr, 0x180000, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_NE(region, 0u);
    ASSERT_NE(VirtualAlloc(pointerAt(region + 0xF0000), 0x30000, MEM_COMMIT, PAGE_READWRITE), nullptr);
    expectAgreement(*device, region, 0x180000);
    ASSERT_TRUE(VirtualFree(pointerAt(region + 0xFF000), 0x2000, MEM_DECOMMIT));
    expectAgreement(*device, region, 0x180000);
    EXPECT_FALSE(device->addressSpace().pageTables().translate(region + 0x100000));
    ASSERT_TRUE(VirtualFree(pointerAt(region), 0, MEM_RELEASE));
    EXPECT_FALSE(device->addressSpace().pageTables().translate(region + 0xF0000));
    EXPECT_FALSE(device->addressSpace().pageTables().translate(region + 0x110000));
    EXPECT_EQ(firstLevelDescriptor(*device, region + 0x100000), 0u);
}

TEST(SimPageTables, SurviveAllOfRamBeingCommittedAndWritten) {
    TestDevice device;
    DWORD pages = static_cast<DWORD>(device->memory().freeFrames());
    DWORD size = pages * 0x1000;
    auto* region = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(region, nullptr);
    // No table frame was handed out as a page: overwriting every page leaves them whole.
    std::memset(region, 0x5A, size);
    expectAgreement(*device, addressOf(region), size);
}

TEST(SimPageTables, RunningOutOfTableMemoryFailsTheMappingCleanly) {
    sim::DeviceSettings settings;
    settings.ram = {{0xC0000000, MB}};
    TestDevice device(settings);
    const sim::PageTables& tables = device->addressSpace().pageTables();
    // All RAM but one frame in committed pages, then every spare coarse table used by
    // RAM mappings that need no frame, each in a megabyte of its own.
    DWORD pages = static_cast<DWORD>(device->memory().freeFrames()) - 1;
    DWORD big = addressOf(VirtualAlloc(nullptr, pages * 0x1000, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(big, 0u);
    std::vector<DWORD> windows;
    while (tables.spareTables() > 0) {
        windows.push_back(reserve(MB));
        ASSERT_TRUE(copyPhysical(windows.back(), 0xC0000000, 0x1000));
    }
    ASSERT_EQ(device->memory().freeFrames(), 1u);

    // The page gets the last frame, its table finds none: the commit fails whole.
    DWORD region = reserve(MB);
    EXPECT_EQ(VirtualAlloc(pointerAt(region), 0x1000, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(device->memory().freeFrames(), 1u);
    EXPECT_FALSE(device->addressSpace().isMemory(region));
    EXPECT_FALSE(tables.translate(region));

    // A mapping needs no page frame, so its table may take the last one.
    ASSERT_TRUE(copyPhysical(region, 0xC0001000, 0x1000));
    EXPECT_EQ(tables.translate(region + 4)->value(), 0xC0001004u);
    EXPECT_EQ(device->memory().freeFrames(), 0u);
    DWORD another = reserve(MB);
    EXPECT_EQ(VirtualAlloc(pointerAt(another), 0x1000, MEM_COMMIT, PAGE_READWRITE), nullptr);

    expectAgreement(*device, big, pages * 0x1000);
    for (DWORD window : windows) expectAgreement(*device, window, 0x1000);
    windows.push_back(big);
    windows.push_back(region);
    for (DWORD window : windows) ASSERT_TRUE(VirtualFree(pointerAt(window), 0, MEM_RELEASE));
    for (DWORD window : windows) EXPECT_EQ(firstLevelDescriptor(*device, window), 0u);
    EXPECT_EQ(tables.spareTables(), 68u);  // every table back, with the one frame borrowed
}

}  // namespace
