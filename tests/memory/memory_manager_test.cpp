// The page pool: building it, handing pages out from both ends, and the
// short-lived mappings of physical addresses.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "memory/memory_manager.h"
#include "memory_fixture.h"
#include "platform/address.h"

using namespace quorvel;

namespace {

using Lines = std::vector<std::u16string>;

// A variant whose physical addresses are made up: page i of the pool is at
// 0xA0000000 + i pages.
class MadeUpMemoryManager : public MemoryManager {
public:
    MadeUpMemoryManager(Console*& consoleIn, std::uint32_t pageBytes) : MemoryManager(consoleIn, pageBytes) {}
    std::uint32_t lookupPhysical(std::uint32_t vaddr) override { return 0xA0000000 + (vaddr - poolBase()); }
};

TEST_F(MemoryTest, PageShiftCountsTheTrailingZeroBits) {
    const struct {
        std::uint32_t pageSize;
        std::uint32_t pageShift;
    } cases[] = {{4096, 12}, {1024, 10}, {65536, 16}, {1, 0}, {4097, 0}, {3, 0}, {0x3000, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pageSize);
        MadeUpMemoryManager manager(consoleSlot, c.pageSize);
        EXPECT_EQ(manager.pageSize, c.pageSize);
        EXPECT_EQ(manager.pageShift, c.pageShift);
    }
}

TEST_F(MemoryTest, BanksAreLoggedAsTheyAreAdded) {
    MadeUpMemoryManager manager(consoleSlot, 4096);
    manager.addBank(0xC0000000, 0x08000000);
    manager.addBank(0xC8000000, 0x08000000);
    EXPECT_EQ(log.entries(), (Lines{u"[0] 0xc0000000 size 0x08000000\n", u"[1] 0xc8000000 size 0x08000000\n"}));
    ASSERT_EQ(manager.bankCount(), 2);
    EXPECT_EQ(manager.bank(1).address, 0xC8000000u);
    EXPECT_EQ(manager.bank(1).size, 0x08000000u);
    // The table is fixed; more banks than it holds are not stored.
    for (int i = 2; i < 20; ++i) manager.addBank(0xD0000000 + i * 0x100000, 0x100000);
    EXPECT_EQ(manager.bankCount(), MEMORY_BANK_MAX);
}

TEST_F(MemoryTest, PoolOfSeventeenPages) {
    auto manager = makeLockPages();
    log.clear();
    std::size_t framesBefore = device->memory().freeFrames();
    ASSERT_EQ(manager->buildPool(0x10001, false), 1);
    EXPECT_EQ(log.entries(),
              (Lines{u"address translation table 17 pages. (0x88 bytes)\n", u"allocated 17 page. mapped 17 page.\n"}));
    // 0x20000 bytes reserved and committed in one region.
    EXPECT_EQ(framesBefore - device->memory().freeFrames(), 0x20000u / 4096);
    EXPECT_EQ(manager->poolBase() % 0x10000, 0u);
    EXPECT_EQ(manager->poolCount(), 17);
    EXPECT_EQ(device->faults().calls("VirtualAlloc"), 1u);

    // Entries in ascending virtual order; physical addresses as the device has them.
    std::set<std::uint32_t> frames;
    for (int i = 0; i < 17; ++i) {
        const TranslationEntry& entry = manager->translationTable()[i];
        EXPECT_EQ(entry.vaddr, manager->poolBase() + i * 4096u);
        EXPECT_EQ(entry.paddr, physicalOf(entry.vaddr));
        frames.insert(entry.paddr);
    }
    EXPECT_EQ(frames.size(), 17u);

    // Released with the manager.
    std::uint32_t base = manager->poolBase();
    manager.reset();
    EXPECT_EQ(physicalOf(base), 0xFFFFFFFFu);
    EXPECT_EQ(device->memory().freeFrames(), framesBefore);
}

TEST_F(MemoryTest, APageNotFoundShortensThePool) {
    auto manager = makeLockPages();
    log.clear();
    device->faults().failWhen("LockPages", [](const sim::FaultCall& call) { return call.index == 5; });
    ASSERT_EQ(manager->buildPool(17 * 4096, false), 1);
    EXPECT_EQ(log.entries(), (Lines{u"address translation table 17 pages. (0x88 bytes)\n", u"page#5 not found\n",
                                    u"allocated 17 page. mapped 5 page.\n"}));
    EXPECT_EQ(device->faults().calls("LockPages"), 6u);  // the search stops at the failure

    std::uint32_t dataV, dataP, linkV, linkP;
    for (std::uint32_t i = 0; i < 5; ++i) {
        ASSERT_EQ(manager->takeLinkedPage(dataV, dataP, linkV, linkP), 1);
        EXPECT_EQ(linkV, manager->poolBase() + i * 4096);
    }
    log.clear();
    EXPECT_EQ(manager->takeLinkedPage(dataV, dataP, linkV, linkP), 0);
    EXPECT_EQ(log.entries(), Lines{u"page insufficient.\n"});
}

TEST_F(MemoryTest, PagesInsideKeptOutRangesAreSetAsideAndReplaced) {
    auto manager = makeLockPages();
    const AddressRange kernel{0xC0400000, 0xC0410000};
    // Windows CE hands out five frames of the range first, for the region's first pages.
    std::vector<sim::PhysicalAddress> inside;
    for (std::uint32_t i = 0; i < 5; ++i) inside.emplace_back(0xC0400000 + i * 0x3000);
    device->memory().preferFrames(inside);
    manager->keepPoolOutOf({kernel, {0xC1000000, 0xC1000001}});
    log.clear();

    ASSERT_EQ(manager->buildPool(8 * 4096, false), 1);

    EXPECT_EQ(log.entries(), (Lines{u"address translation table 8 pages. (0x40 bytes)\n",
                                    u"allocated 8 page. mapped 8 page.\n",
                                    u"5 pool pages set aside inside the kernel's destinations (0x5000 bytes more).\n"}));
    EXPECT_EQ(manager->poolCount(), 8);
    EXPECT_EQ(manager->mappedEntries(), 8u);
    EXPECT_EQ(manager->setAsidePages(), 5u);
    std::set<std::uint32_t> frames;
    for (int i = 0; i < 8; ++i) {
        const TranslationEntry& entry = manager->translationTable()[i];
        EXPECT_EQ(entry.paddr, physicalOf(entry.vaddr));
        EXPECT_FALSE(kernel.contains(entry.paddr)) << std::hex << entry.paddr;
        EXPECT_NE(entry.paddr, 0xC1000000u);
        frames.insert(entry.paddr);
    }
    EXPECT_EQ(frames.size(), 8u);
    // The pages set aside stay committed, so Windows CE cannot hand them out again.
    for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ(physicalOf(manager->poolBase() + i * 4096), inside[i].value());

    // Released with the pool: the first region and the pages committed one by one.
    std::vector<std::uint32_t> pages;
    for (std::uint32_t i = 0; i < 5; ++i) pages.push_back(manager->poolBase() + i * 4096);
    for (int i = 0; i < 8; ++i) pages.push_back(manager->translationTable()[i].vaddr);
    manager.reset();
    for (std::uint32_t page : pages) EXPECT_EQ(physicalOf(page), 0xFFFFFFFFu) << std::hex << page;
}

TEST_F(MemoryTest, APoolThatRamCannotSupplyOutsideTheRangesFails) {
    auto manager = makeLockPages();
    std::size_t framesBefore = device->memory().freeFrames();
    // Every frame but the first megabyte's is where the kernel goes.
    manager->keepPoolOutOf({{0xC0100000, 0xC2000000}});
    log.clear();

    EXPECT_EQ(manager->buildPool(512 * 4096, false), 0);

    ASSERT_EQ(log.entries().size(), 2u) << log.utf8();
    EXPECT_EQ(log.entries()[0], u"address translation table 512 pages. (0x1000 bytes)\n");
    EXPECT_EQ(log.entries()[1].rfind(u"RAM has no ", 0), 0u) << log.utf8();
    EXPECT_NE(log.entries()[1].find(u" more pages outside the kernel's destinations ("), std::u16string::npos);
    manager.reset();
    EXPECT_EQ(device->memory().freeFrames(), framesBefore);
}

TEST_F(MemoryTest, NoPoolWithoutSizeOrRegion) {
    auto manager = makeLockPages();
    log.clear();
    EXPECT_EQ(manager->buildPool(0, false), 0);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(device->faults().calls("VirtualAlloc"), 0u);

    device->faults().failAlways("VirtualAlloc");
    EXPECT_EQ(manager->buildPool(3 * 4096, false), 0);
    EXPECT_EQ(log.entries(),
              (Lines{u"address translation table 3 pages. (0x18 bytes)\n", u"can't allocate memory\n"}));
    EXPECT_EQ(manager->poolBase(), 0u);

    // More than the 32-bit address space can hold: the region cannot be had.
    device->faults().clear();
    log.clear();
    EXPECT_EQ(manager->buildPool(0xFFFFF001, false), 0);
    EXPECT_EQ(log.entries(), (Lines{u"address translation table 1048576 pages. (0x800000 bytes)\n",
                                    u"can't allocate memory\n"}));
}

TEST_F(MemoryTest, PagesComeFromBothEnds) {
    auto manager = makeLockPages();
    ASSERT_EQ(manager->buildPool(3 * 4096, false), 1);
    const TranslationEntry* table = manager->translationTable();
    // Fill the pages so that the cleared links show.
    for (int i = 0; i < 3; ++i) std::memset(ce::pointerAt(table[i].vaddr), 0xA5, 4096);
    log.clear();

    std::uint32_t dataV = 1, dataP = 2, linkV = 3, linkP = 4;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(manager->takeLinkedPage(dataV, dataP, linkV, linkP), 1);
        EXPECT_EQ(linkV, table[i].vaddr);
        EXPECT_EQ(linkP, table[i].paddr);
        EXPECT_EQ(dataV, table[i].vaddr + 16);
        EXPECT_EQ(dataP, table[i].paddr + 16);
        const std::uint8_t* page = ce::pointerAt(linkV);
        EXPECT_EQ(std::vector<std::uint8_t>(page, page + 16), std::vector<std::uint8_t>(16, 0));
        EXPECT_EQ(page[16], 0xA5);  // the data is left alone
        EXPECT_EQ(device->memory().readWord(sim::PhysicalAddress(linkP + 12)), 0u);
    }
    std::uint32_t backV = 0, backP = 0;
    ASSERT_EQ(manager->takeBackPage(backV, backP), 1);
    EXPECT_EQ(backV, table[2].vaddr);
    EXPECT_EQ(backP, table[2].paddr);
    EXPECT_TRUE(log.entries().empty());

    EXPECT_EQ(manager->takeLinkedPage(dataV, dataP, linkV, linkP), 0);
    EXPECT_EQ(log.entries(), Lines{u"page insufficient.\n"});
    EXPECT_EQ(linkV, table[1].vaddr);  // out arguments untouched
    log.clear();
    EXPECT_EQ(manager->takeBackPage(backV, backP), 0);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(backV, table[2].vaddr);
}

TEST_F(MemoryTest, NoPagesBeforeThePool) {
    MadeUpMemoryManager manager(consoleSlot, 4096);
    std::uint32_t v = 0, p = 0;
    EXPECT_EQ(manager.takeBackPage(v, p), 0);
    EXPECT_EQ(manager.takeFrontPage(v, p), 0);
    EXPECT_EQ(log.entries(), Lines{u"page insufficient.\n"});
}

TEST_F(MemoryTest, PerPageCommitFindsEveryPage) {
    auto manager = makeLockPages();
    ASSERT_EQ(manager->buildPool(3 * 4096, true), 1);
    ASSERT_EQ(manager->poolCount(), 3);
    for (int i = 0; i < 3; ++i) {
        const TranslationEntry& entry = manager->translationTable()[i];
        EXPECT_EQ(entry.vaddr, manager->poolBase() + i * 4096u);
        EXPECT_EQ(entry.paddr, physicalOf(entry.vaddr));
    }
    // The region was reserved, then each page committed on its own.
    EXPECT_EQ(device->faults().calls("VirtualAlloc"), 4u);
}

TEST_F(MemoryTest, APageThatCannotBeCommittedIsNotFound) {
    auto manager = makeLockPages();
    log.clear();
    device->faults().failOnCall("VirtualAlloc", 2);  // the region, page 0, then page 1
    ASSERT_EQ(manager->buildPool(3 * 4096, true), 1);
    EXPECT_EQ(log.entries(), (Lines{u"address translation table 3 pages. (0x18 bytes)\n", u"page#1 not found\n",
                                    u"allocated 3 page. mapped 1 page.\n"}));
    EXPECT_EQ(device->faults().calls("LockPages"), 1u);
}

TEST_F(MemoryTest, APoolBuiltAgainReplacesTheFirst) {
    MadeUpMemoryManager manager(consoleSlot, 4096);
    ASSERT_EQ(manager.buildPool(5 * 4096, false), 1);
    std::uint32_t v, p;
    manager.takeFrontPage(v, p);
    manager.takeBackPage(v, p);
    std::size_t framesBetween = device->memory().freeFrames();
    ASSERT_EQ(manager.buildPool(2 * 4096, false), 1);
    EXPECT_EQ(manager.poolCount(), 2);
    EXPECT_EQ(manager.frontIndex(), 0);
    EXPECT_EQ(device->memory().freeFrames(), framesBetween);  // 16 pages back, 16 taken
}

struct MappingCase {
    const char* label;
    std::uint32_t paddr;
    std::uint32_t size;
    std::uint32_t protection;
    std::uint32_t offset;  // of the result from the reserved address
    std::uint32_t pages;   // mapped
};

TEST_F(MemoryTest, MapPhysicalReturnsTheAddressOfTheRequestedByte) {
    const MappingCase cases[] = {
        {"UART registers", 0x80050000, 256, 4, 0, 1},
        {"LCD DBAR1", 0xB0100010, 4, 2, 0x10, 1},
        {"eight bytes across a page boundary", 0xC0000FFC, 8, 4, 0xFFC, 2},
        {"a whole page", 0xC0001000, 4096, 2, 0, 1},
        {"one byte more than a page", 0xC0001000, 4097, 2, 0, 2},
    };
    auto manager = makeLockPages();
    for (const MappingCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::uint32_t va = manager->mapPhysical(c.paddr, c.size, c.protection);
        ASSERT_NE(va, 0xFFFFFFFFu);
        std::uint32_t reserved = va - c.offset;
        EXPECT_EQ(reserved % 0x10000, 0u);
        std::uint32_t base = c.paddr & ~0xFFFu;
        for (std::uint32_t page = 0; page < c.pages + 1; ++page) {
            std::uint32_t at = reserved + page * 4096;
            bool mapped = device->addressSpace().isMemory(at) || device->addressSpace().deviceAt(at).has_value();
            EXPECT_EQ(mapped, page < c.pages) << "page " << page;
        }
        if (auto reg = device->addressSpace().deviceAt(va)) {
            EXPECT_EQ(reg->device->base() + reg->offset, c.paddr);
        } else {
            EXPECT_EQ(physicalOf(va), c.paddr);
            EXPECT_EQ(physicalOf(reserved), base);
        }
        EXPECT_EQ(manager->unmapPhysical(va), 1);
        EXPECT_FALSE(device->addressSpace().isMemory(reserved));
        EXPECT_FALSE(device->addressSpace().deviceAt(reserved).has_value());
    }
    EXPECT_EQ(device->faults().calls("VirtualCopy"), std::size(cases));
}

TEST_F(MemoryTest, AMappingThatFailsIsReportedAndLeavesNothingBehind) {
    auto manager = makeLockPages();
    log.clear();
    const struct {
        const char* label;
        const char* service;
        std::uint32_t paddr;
        std::uint32_t size;
        std::u16string message;
        std::uint64_t frees;
    } cases[] = {
        {"nothing at that address", nullptr, 0x10000000, 4, u"can't map physical address 0x10000000\n", 1},
        {"no physical mapping", "VirtualCopy", 0xC0000000, 4, u"can't map physical address 0xc0000000\n", 1},
        {"no reservation", "VirtualAlloc", 0x80050000, 256, u"can't map physical address 0x80050000\n", 0},
        {"past the end of the physical space", nullptr, 0xFFFFF000, 0x2000, u"can't map physical address 0xfffff000\n",
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        device->faults().clear();
        if (c.service) device->faults().failAlways(c.service);
        log.clear();
        std::uint64_t freesBefore = device->faults().calls("VirtualFree");
        EXPECT_EQ(manager->mapPhysical(c.paddr, c.size, 4), 0xFFFFFFFFu);
        EXPECT_EQ(log.entries(), Lines{c.message});
        EXPECT_EQ(device->faults().calls("VirtualFree") - freesBefore, c.frees);
    }
}

TEST_F(MemoryTest, UnmapReportsAFailedRelease) {
    auto manager = makeLockPages();
    std::uint32_t va = manager->mapPhysical(0x80050000, 256, 4);
    ASSERT_NE(va, 0xFFFFFFFFu);
    log.clear();
    device->faults().failOnCall("VirtualFree", device->faults().calls("VirtualFree"));
    EXPECT_EQ(manager->unmapPhysical(va), 0);
    EXPECT_EQ(log.entries(), Lines{u"can't release memory\n"});
    EXPECT_EQ(manager->unmapPhysical(va), 1);
}

TEST_F(MemoryTest, ReadPhysicalWordReadsMemoryAndRegisters) {
    auto manager = makeLockPages();
    device->memory().writeWord(sim::PhysicalAddress(0xC0100FFC), 0x12345678);
    device->lcd()->dbar1 = 0xC0200000;
    EXPECT_EQ(manager->readPhysicalWord(0xC0100FFC), 0x12345678u);
    EXPECT_EQ(manager->readPhysicalWord(0xB0100010), 0xC0200000u);
    EXPECT_EQ(device->lcd()->accesses().size(), 1u);
    // Each mapping released again.
    EXPECT_EQ(device->faults().calls("VirtualFree"), 2u);

    // Unmappable: nothing is read, the answer is all ones.
    log.clear();
    device->lcd()->clearAccesses();
    device->faults().failAlways("VirtualCopy");
    EXPECT_EQ(manager->readPhysicalWord(0xB0100010), 0xFFFFFFFFu);
    EXPECT_TRUE(device->lcd()->accesses().empty());
    EXPECT_EQ(log.entries(), Lines{u"can't map physical address 0xb0100010\n"});
}

}  // namespace
