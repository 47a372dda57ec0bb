// Physical addresses from a walk of the ARMv4 translation tables: the walk over
// descriptors placed in simulated RAM, and over the simulated Windows CE's own tables.
#include <cstring>
#include <string>
#include <vector>

#include "memory/soft_mmu_memory_manager.h"
#include "memory_fixture.h"
#include "platform/address.h"
#include "platform/coredll.h"

using namespace quorvel;

namespace {

using Lines = std::vector<std::u16string>;

std::u16string format(const char16_t* pattern, std::uint32_t a, std::uint32_t b = 0, std::uint32_t c = 0) {
    ce::WCHAR text[128];
    ce::wsprintfW(text, pattern, a, b, c);
    return text;
}

class SoftMmuTest : public MemoryTest {
protected:
    std::unique_ptr<SoftMmuMemoryManager> makeSoftMmu() {
        auto manager = std::make_unique<SoftMmuMemoryManager>(consoleSlot, 4096);
        log.clear();
        return manager;
    }

    void writePhysical(std::uint32_t address, std::uint32_t value) {
        device->memory().writeWord(sim::PhysicalAddress(address), value);
    }
    std::uint32_t readPhysical(std::uint32_t address) {
        return device->memory().readWord(sim::PhysicalAddress(address));
    }
};

TEST_F(SoftMmuTest, AnnouncesItself) {
    SoftMmuMemoryManager manager(consoleSlot, 4096);
    EXPECT_EQ(log.entries(), Lines{u"Use ARM software MMU.\n"});
}

TEST_F(SoftMmuTest, InitEntersKernelModeOpensEveryDomainAndReadsTheTableBase) {
    const struct {
        const char* name;
        std::uint32_t ttb;  // 0: the simulated Windows CE's own
        std::uint32_t directory;
    } cases[] = {
        {"live tables", 0, 0},
        {"low bits dropped", 0xC0004018, 0xC0004000},
        {"16 KB boundary", 0xA1FFFFFF, 0xA1FFC000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::CpuState& cpu = device->cpu();
        if (c.ttb) cpu.translationBase = c.ttb;
        std::uint32_t ttb = cpu.translationBase;
        std::uint32_t directory = c.ttb ? c.directory : ttb;
        if (c.ttb && device->memory().contains(sim::PhysicalAddress(directory), 4)) writePhysical(directory, 0x12345C01);
        cpu.domainAccess = 0x55555555;
        {
            auto manager = makeSoftMmu();
            ASSERT_EQ(manager->init(), 1);
            EXPECT_TRUE(cpu.kernelMode);
            EXPECT_EQ(cpu.domainAccess, 0xFFFFFFFFu);
            EXPECT_EQ(manager->pageDirectory(), directory);
            std::uint32_t word = device->memory().contains(sim::PhysicalAddress(directory), 4) ? readPhysical(directory)
                                                                                               : 0xFFFFFFFFu;
            EXPECT_EQ(log.entries().back(), format(u"page directory address=0x%08x->0x%08x(0x%08x)\n", directory, word, ttb));
            EXPECT_EQ(cpu.userModeCp15Accesses, 0u);
        }
        EXPECT_FALSE(cpu.kernelMode);  // the thread's mode is given back
        EXPECT_EQ(cpu.domainAccess, 0xFFFFFFFFu);  // the domains stay open
    }
}

TEST_F(SoftMmuTest, InitRefusesAKernelModeThatIsNotSystemMode) {
    const std::uint32_t modes[] = {0x13 /* Supervisor */, 0x1B /* Undefined */, 0x10 /* User */};
    for (std::uint32_t mode : modes) {
        SCOPED_TRACE(mode);
        sim::CpuState& cpu = device->cpu();
        cpu.kernelModeCpsrMode = mode;
        cpu.domainAccess = 0x55555555;
        {
            auto manager = makeSoftMmu();
            EXPECT_EQ(manager->init(), 0);
            EXPECT_EQ(log.entries(), Lines{u"not System mode\n"});
            EXPECT_TRUE(cpu.kernelMode);
            EXPECT_EQ(cpu.domainAccess, 0x55555555u);
            EXPECT_EQ(manager->pageDirectory(), 0u);
        }
        EXPECT_FALSE(cpu.kernelMode);
    }
}

TEST_F(SoftMmuTest, DestructionRestoresThePreviousMode) {
    for (bool before : {false, true}) {
        SCOPED_TRACE(before);
        ce::SetKMode(before ? ce::TRUE : ce::FALSE);
        {
            auto manager = makeSoftMmu();
            ASSERT_EQ(manager->init(), 1);
            ASSERT_EQ(manager->init(), 1);  // a second init does not lose the original mode
            EXPECT_EQ(manager->savedKMode(), before ? ce::TRUE : ce::FALSE);
        }
        EXPECT_EQ(device->cpu().kernelMode, before);
    }
    // Without init nothing is changed.
    ce::SetKMode(ce::FALSE);
    makeSoftMmu().reset();
    EXPECT_FALSE(device->cpu().kernelMode);
}

// A walk over descriptors written into simulated RAM. Addresses below the first
// process slot take the process ID.
struct WalkCase {
    const char* name;
    std::uint32_t processId;
    std::uint32_t vaddr;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> words;  // physical address, descriptor
    std::uint32_t result;
    Lines logged;
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class SoftMmuWalk : public SoftMmuTest, public testing::WithParamInterface<WalkCase> {};

TEST_P(SoftMmuWalk, FollowsTheDescriptors) {
    const WalkCase& c = GetParam();
    device->cpu().translationBase = 0xC0004000;
    device->cpu().processId = c.processId;
    auto manager = makeSoftMmu();
    ASSERT_EQ(manager->init(), 1);
    for (const auto& [address, value] : c.words) writePhysical(address, value);
    log.clear();
    EXPECT_EQ(manager->translate(c.vaddr), c.result);
    EXPECT_EQ(log.entries(), c.logged);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptors, SoftMmuWalk,
    testing::Values(
        WalkCase{"SmallPage", 0x02000000, 0x00120000, {{0xC0004084, 0xC0A00C01}, {0xC0A00C80, 0xC1234FFE}}, 0xC1234000,
                 {u"Virtual Address 0x00120000", u"(+PID)-> 0x02120000\n",
                  u"1st level descriptor 0xc0a00c01(addr 0xc0004084)\n", u"-> Level2 page descriptor.\n",
                  u"2nd level descriptor 0xc1234ffe(addr 0xc0a00c80)\n"}},
        WalkCase{"Section", 0x02000000, 0x12345678, {{0xC000448C, 0xC0000C12}}, 0xC0045678,
                 {u"Virtual Address 0x12345678", u"(+PID)-> 0x12345678\n",
                  u"1st level descriptor 0xc0000c12(addr 0xc000448c)\n", u"section Physical Address 0xc0045678\n"}},
        WalkCase{"LargePage", 0, 0x0001ABCD, {{0xC0004000, 0xC0A01011}, {0xC0A01068, 0xA1230001}}, 0xA123ABCD,
                 {u"Virtual Address 0x0001abcd", u"(+PID)-> 0x0001abcd\n",
                  u"1st level descriptor 0xc0a01011(addr 0xc0004000)\n", u"-> Level2 page descriptor.\n",
                  u"2nd level descriptor 0xa1230001(addr 0xc0a01068)\n"}},
        WalkCase{"LargePageInTheProcessSlot", 0x04000000, 0x0001ABCD,
                 {{0xC0004100, 0xC0A01011}, {0xC0A01068, 0xA1230001}}, 0xA123ABCD,
                 {u"Virtual Address 0x0001abcd", u"(+PID)-> 0x0401abcd\n",
                  u"1st level descriptor 0xc0a01011(addr 0xc0004100)\n", u"-> Level2 page descriptor.\n",
                  u"2nd level descriptor 0xa1230001(addr 0xc0a01068)\n"}},
        WalkCase{"FineTableIsAFault", 0x02000000, 0x00120000, {{0xC0004084, 0xC0A00C03}}, 0xFFFFFFFF,
                 {u"Virtual Address 0x00120000", u"(+PID)-> 0x02120000\n",
                  u"1st level descriptor 0xc0a00c03(addr 0xc0004084)\n", u"1st level descriptor fault.\n"}},
        WalkCase{"FirstLevelFault", 0x02000000, 0x00120000, {{0xC0004084, 0xC0A00C00}}, 0xFFFFFFFF,
                 {u"Virtual Address 0x00120000", u"(+PID)-> 0x02120000\n",
                  u"1st level descriptor 0xc0a00c00(addr 0xc0004084)\n", u"1st level descriptor fault.\n"}},
        WalkCase{"SecondLevelFault", 0x02000000, 0x00120000, {{0xC0004084, 0xC0A00C01}, {0xC0A00C80, 0xC1234FF0}},
                 0xFFFFFFFF,
                 {u"Virtual Address 0x00120000", u"(+PID)-> 0x02120000\n",
                  u"1st level descriptor 0xc0a00c01(addr 0xc0004084)\n", u"-> Level2 page descriptor.\n",
                  u"2nd level descriptor 0xc1234ff0(addr 0xc0a00c80)\n", u"2nd level descriptor fault.\n"}},
        WalkCase{"TinyPageIsAFault", 0x02000000, 0x00120000, {{0xC0004084, 0xC0A00C01}, {0xC0A00C80, 0xC1234FF3}},
                 0xFFFFFFFF,
                 {u"Virtual Address 0x00120000", u"(+PID)-> 0x02120000\n",
                  u"1st level descriptor 0xc0a00c01(addr 0xc0004084)\n", u"-> Level2 page descriptor.\n",
                  u"2nd level descriptor 0xc1234ff3(addr 0xc0a00c80)\n", u"2nd level descriptor fault.\n"}},
        // High addresses are not relocated: slot bits already set stay as they are.
        WalkCase{"HighAddressKeepsItsSlot", 0x02000000, 0x44123000, {{0xC0004000 + 0x441 * 4, 0xC1100C12}}, 0xC1123000,
                 {u"Virtual Address 0x44123000", u"(+PID)-> 0x44123000\n",
                  u"1st level descriptor 0xc1100c12(addr 0xc0005104)\n", u"section Physical Address 0xc1123000\n"}}),
    ::testing::PrintToStringParamName());

TEST_F(SoftMmuTest, PoolPagesAgreeWithTheKernelsPageLock) {
    auto manager = makeSoftMmu();
    ASSERT_EQ(manager->init(), 1);
    log.clear();
    ASSERT_EQ(manager->buildPool(40 * 4096 + 1, false), 1);
    ASSERT_EQ(manager->poolCount(), 41);
    EXPECT_EQ(log.entries().back(), u"allocated 41 page. mapped 41 page.\n");
    const TranslationEntry* table = manager->translationTable();
    for (int i = 0; i < manager->poolCount(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i].vaddr, manager->poolBase() + i * 4096u);
        EXPECT_EQ(table[i].paddr, physicalOf(table[i].vaddr));
        // The page was touched all over.
        const std::uint8_t* frame = device->memory().host(sim::PhysicalAddress(table[i].paddr));
        for (int b = 0; b < 4096; ++b) ASSERT_EQ(frame[b], 0xA5) << b;
    }

    // One page's walk, line by line, against the live tables.
    std::uint32_t vaddr = table[7].vaddr;
    std::uint32_t address1 = manager->pageDirectory() | ((vaddr >> 18) & 0x3FFC);
    std::uint32_t d1 = readPhysical(address1);
    std::uint32_t address2 = (d1 & 0xFFFFFC00u) | ((vaddr >> 10) & 0x3FC);
    std::uint32_t d2 = readPhysical(address2);
    log.clear();
    EXPECT_EQ(manager->lookupPhysical(vaddr), table[7].paddr);
    EXPECT_EQ(log.entries(), (Lines{format(u"Virtual Address 0x%08x", vaddr), format(u"(+PID)-> 0x%08x\n", vaddr),
                                    format(u"1st level descriptor 0x%08x(addr 0x%08x)\n", d1, address1),
                                    u"-> Level2 page descriptor.\n",
                                    format(u"2nd level descriptor 0x%08x(addr 0x%08x)\n", d2, address2)}));
    EXPECT_EQ(d2 & 3, 2u);
}

TEST_F(SoftMmuTest, SectionsAndLargePagesOfLiveMappings) {
    const struct {
        const char* name;
        std::uint32_t offset;  // of the mapping from a megabyte boundary
        std::uint32_t physical;
        std::uint32_t size;
        std::uint32_t page;    // looked-up page inside the mapping
        bool section;
    } cases[] = {
        {"section", 0, 0xC0100000, 0x100000, 0x45000, true},
        {"large page", 0x30000, 0xC0250000, 0x10000, 0xC000, false},
        {"small page", 0x41000, 0xC0377000, 0x1000, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        void* area = ce::VirtualAlloc(nullptr, 0x200000, ce::MEM_RESERVE, ce::PAGE_NOACCESS);
        ASSERT_NE(area, nullptr);
        std::uint32_t va = ((ce::addressOf(area) + 0xFFFFF) & ~0xFFFFFu) + c.offset;
        ASSERT_TRUE(ce::VirtualCopy(ce::pointerAt(va), reinterpret_cast<void*>(std::uintptr_t(c.physical >> 8)), c.size,
                                    ce::PAGE_READWRITE | ce::PAGE_PHYSICAL | ce::PAGE_NOCACHE));
        writePhysical(c.physical + c.page - 4, 0x11111111);
        writePhysical(c.physical + c.page + 4096, 0x22222222);

        auto manager = makeSoftMmu();
        ASSERT_EQ(manager->init(), 1);
        log.clear();
        EXPECT_EQ(manager->lookupPhysical(va + c.page), c.physical + c.page);
        EXPECT_EQ(log.contains(format(u"section Physical Address 0x%08x\n", c.physical + c.page)), c.section);
        EXPECT_EQ(log.contains(u"-> Level2 page descriptor.\n"), !c.section);
        EXPECT_EQ(readPhysical(c.physical + c.page), 0xA5A5A5A5u);
        EXPECT_EQ(readPhysical(c.physical + c.page + 4092), 0xA5A5A5A5u);
        // Only that page.
        EXPECT_EQ(readPhysical(c.physical + c.page - 4), 0x11111111u);
        EXPECT_EQ(readPhysical(c.physical + c.page + 4096), 0x22222222u);
        ce::VirtualFree(area, 0, ce::MEM_RELEASE);
    }
}

TEST_F(SoftMmuTest, APoolPageThatDoesNotTranslateEndsThePool) {
    // A table base over RAM that holds no descriptors: every walk faults.
    device->cpu().translationBase = 0xC0008000;
    auto manager = makeSoftMmu();
    ASSERT_EQ(manager->init(), 1);
    log.clear();
    EXPECT_EQ(manager->buildPool(3 * 4096, false), 1);
    EXPECT_EQ(manager->poolCount(), 0);
    EXPECT_TRUE(log.contains(u"1st level descriptor fault.\n"));
    EXPECT_EQ(log.entries()[log.entries().size() - 2], u"page#0 not found\n");
    EXPECT_EQ(log.entries().back(), u"allocated 3 page. mapped 0 page.\n");
}

}  // namespace
