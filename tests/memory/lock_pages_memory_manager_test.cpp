// Physical addresses from the kernel's page lock.
#include <string>
#include <vector>

#include "memory/lock_pages_memory_manager.h"
#include "memory_fixture.h"
#include "platform/address.h"

using namespace quorvel;

namespace {

using Lines = std::vector<std::u16string>;

// A page lock that reports a chosen frame number.
ce::DWORD reportedPfn = 0;
ce::BOOL lockResult = ce::TRUE;
int unlockCalls = 0;
ce::BOOL reportingLock(ce::LPVOID, ce::DWORD, ce::PDWORD pfns, int options) {
    EXPECT_EQ(options, ce::LOCKFLAG_WRITE);
    pfns[0] = reportedPfn;
    return lockResult;
}
ce::BOOL countingUnlock(ce::LPVOID, ce::DWORD) {
    ++unlockCalls;
    return ce::TRUE;
}

TEST_F(MemoryTest, AnnouncesItself) {
    auto manager = makeLockPages();
    EXPECT_EQ(log.entries(), Lines{u"MemoryManager: LockPages\n"});
}

TEST_F(MemoryTest, FrameNumbersBecomePageAddresses) {
    const struct {
        std::uint32_t pageSize;
        std::uint32_t pfnShift;
        ce::DWORD pfn;
        std::uint32_t physical;
    } cases[] = {
        {4096, 0, 0xC0A53000, 0xC0A53000},
        {4096, 0, 0xC0A53FFF, 0xC0A53000},  // bits inside the page are dropped
        {4096, 2, 0x30294000, 0xC0A50000},
        {4096, 12, 0x000C0A53, 0xC0A53000},
        {4096, 14, 0x00030294, 0xC0A50000},  // finer than the page: shifted up
        {8192, 0, 0xA0003000, 0xA0002000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "pfn 0x" << std::hex << c.pfn << " shift " << std::dec << c.pfnShift);
        LockPagesMemoryManager manager(reportingLock, countingUnlock, consoleSlot, c.pageSize, c.pfnShift);
        reportedPfn = c.pfn;
        lockResult = ce::TRUE;
        unlockCalls = 0;
        EXPECT_EQ(manager.lookupPhysical(0x20000000), c.physical);
        EXPECT_EQ(unlockCalls, 1);
    }
}

TEST_F(MemoryTest, AFailedLockFindsNothing) {
    LockPagesMemoryManager manager(reportingLock, countingUnlock, consoleSlot, 4096, 0);
    log.clear();
    reportedPfn = 0xC0001000;  // written, but the call failed
    lockResult = ce::FALSE;
    unlockCalls = 0;
    EXPECT_EQ(manager.lookupPhysical(0x20000000), 0xFFFFFFFFu);
    EXPECT_EQ(unlockCalls, 0);
    EXPECT_TRUE(log.entries().empty());

    LockPagesMemoryManager withoutRoutines(nullptr, nullptr, consoleSlot, 4096, 0);
    EXPECT_EQ(withoutRoutines.lookupPhysical(0x20000000), 0xFFFFFFFFu);
}

TEST_F(MemoryTest, AFailedUnlockIsReportedAndTheAddressKept) {
    auto manager = makeLockPages();
    void* page = ce::VirtualAlloc(nullptr, 4096, ce::MEM_COMMIT, ce::PAGE_READWRITE | ce::PAGE_NOCACHE);
    ASSERT_NE(page, nullptr);
    log.clear();
    device->faults().failAlways("UnlockPages");
    EXPECT_EQ(manager->lookupPhysical(ce::addressOf(page)), physicalOf(ce::addressOf(page)));
    EXPECT_EQ(log.entries(), Lines{u"can't unlock pages\n"});
    ce::VirtualFree(page, 0, ce::MEM_RELEASE);
}

TEST_F(MemoryTest, WhatThePoolPagesHoldIsAtTheAddressesFound) {
    auto manager = makeLockPages();
    ASSERT_EQ(manager->buildPool(40 * 4096, false), 1);
    ASSERT_EQ(manager->poolCount(), 40);
    for (int i = 0; i < 40; ++i) {
        const TranslationEntry& entry = manager->translationTable()[i];
        ASSERT_EQ(entry.paddr, physicalOf(entry.vaddr));
        std::uint32_t stamp = 0x5EED0000u + i;
        *reinterpret_cast<std::uint32_t*>(ce::pointerAt(entry.vaddr + 0x100)) = stamp;
        EXPECT_EQ(device->memory().readWord(sim::PhysicalAddress(entry.paddr + 0x100)), stamp);
    }
    EXPECT_EQ(device->faults().calls("LockPages"), 40u);
    EXPECT_EQ(device->faults().calls("UnlockPages"), 40u);
}

}  // namespace
