// The last check before the jump: a copy list whose destinations would overwrite, before
// their last use, pages the second-stage loader still reads is refused, and the jump
// is not made.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "arch/arm/hand_over_check.h"
#include "arch_fixture.h"
#include "sim/emulator.h"
#include "support/case_names.h"

using namespace arch_test;
using quorvel::HandOverPlan;
using quorvel::PageLink;

namespace {

constexpr std::uint32_t END = quorvel::PAGE_LINK_END;
constexpr std::uint32_t ZERO = quorvel::PAGE_LINK_ZERO;

// Pool frames, as offsets from the first RAM bank: scattered, none next to another.
const std::vector<std::uint32_t> FRAME_OFFSETS = {0x480000, 0x431000, 0x402000, 0x4F3000,
                                                  0x414000, 0x465000, 0x406000, 0x427000};

// Entries 0..2 live at the start of pool pages 0..2; entries 0 and 1 copy 64 bytes
// from pages 3 and 4, entry 2 clears 64 bytes; page 5 is the boot information page,
// page 6 the loader's, page 7 its stack.
class HandOverCheckTest : public ArchTest, public ::testing::WithParamInterface<const CpuCase*> {
public:
    HandOverCheckTest() : ArchTest(*GetParam()) {}

    void SetUp() override {
        std::vector<std::uint32_t> frames;
        for (std::uint32_t offset : FRAME_OFFSETS) frames.push_back(cpu.banks[0] + offset);
        ASSERT_NO_FATAL_FAILURE(makePool(8, frames));
        entries = {
            {p(1), p(3) + 16, destination, 64},
            {p(2), p(4) + 16, destination + 64, 64},
            {END, ZERO, destination + 128, 64},
        };
        plan = {p(5), p(0), p(6), p(7), cpu.folds};
        log.clear();
    }

    std::uint32_t p(int i) const { return page(i).paddr; }

    bool check() {
        for (int i = 0; i < 3; ++i) writeLink(page(i).vaddr, entries[i]);
        return quorvel::checkHandOver(*memory, plan, *consoleSlot);
    }

    const std::uint32_t destination = cpu.banks[0] + 0x100000;
    std::vector<PageLink> entries;
    HandOverPlan plan{};
};

INSTANTIATE_TEST_SUITE_P(Cpus, HandOverCheckTest, ::testing::Values(&SA11X0, &PXA2X0), cpuName);

std::u16string overwrite(int entry, std::uint32_t first, std::uint32_t last, const char* what, std::uint32_t page) {
    return line("page link %d: destination 0x%08x-0x%08x would overwrite %s at 0x%08x.\n", entry, first, last, what,
                page);
}

TEST_P(HandOverCheckTest, RefusesDestinationsOverPagesStillToBeRead) {
    struct Case {
        const char* name;
        std::function<void(HandOverCheckTest&)> change;
        // Empty when the list is accepted.
        std::function<std::u16string(HandOverCheckTest&)> message;
    };
    auto accepted = [](HandOverCheckTest&) { return std::u16string(); };
    const Case cases[] = {
        {"destinations away from the pool", [](HandOverCheckTest&) {}, accepted},
        {"over the next entry, read right after this one",
         [](HandOverCheckTest& t) { t.entries[0].dst = t.p(1) + 0x40; },
         [](HandOverCheckTest& t) { return overwrite(0, t.p(1) + 0x40, t.p(1) + 0x7F, "a later list entry", t.p(1)); }},
        {"over a later entry",
         [](HandOverCheckTest& t) { t.entries[0].dst = t.p(2); },
         [](HandOverCheckTest& t) { return overwrite(0, t.p(2), t.p(2) + 63, "a later list entry", t.p(2)); }},
        {"over a later entry's source",
         [](HandOverCheckTest& t) { t.entries[0].dst = t.p(4) + 0x100; },
         [](HandOverCheckTest& t) {
             return overwrite(0, t.p(4) + 0x100, t.p(4) + 0x13F, "the source of a list entry", t.p(4));
         }},
        {"an odd size reaches into the next page by its last word",
         [](HandOverCheckTest& t) {
             t.entries[0].dst = t.p(2) - 4;
             t.entries[0].size = 5;
         },
         [](HandOverCheckTest& t) { return overwrite(0, t.p(2) - 4, t.p(2) + 3, "a later list entry", t.p(2)); }},
        {"a whole word that ends at the page boundary",
         [](HandOverCheckTest& t) {
             t.entries[0].dst = t.p(2) - 4;
             t.entries[0].size = 4;
         },
         accepted},
        {"over pages only earlier entries needed",
         [](HandOverCheckTest& t) {
             t.entries[1].dst = t.p(3);  // entry 0's source
             t.entries[2].dst = t.p(1);  // entry 1 itself, already read
             t.entries[2].size = 0x1000;
         },
         accepted},
        {"over the boot information page",
         [](HandOverCheckTest& t) { t.entries[2].dst = t.p(5) + 0x10; },
         [](HandOverCheckTest& t) {
             return overwrite(2, t.p(5) + 0x10, t.p(5) + 0x4F, "the boot information page", t.p(5));
         }},
        {"into the loader page from below its end",
         [](HandOverCheckTest& t) {
             t.entries[1].dst = t.p(6) + 0xF00;
             t.entries[1].size = 0x200;
         },
         [](HandOverCheckTest& t) {
             return overwrite(1, t.p(6) + 0xF00, t.p(6) + 0x10FF, "the second-stage loader", t.p(6));
         }},
        {"the kernel's first stack, above the last entry, over the boot information page",
         [](HandOverCheckTest& t) { t.entries[2].dst = t.p(5) - 0x1000; },
         [](HandOverCheckTest& t) {
             return line("the kernel's first stack 0x%08x-0x%08x would overwrite the boot information page at 0x%08x.\n",
                         t.p(5) - 0x1000 + 64, t.p(5) + 0xFFF, t.p(5));
         }},
        {"into the stack page from the page before",
         [](HandOverCheckTest& t) { t.entries[2].dst = t.p(7) - 8; },
         [](HandOverCheckTest& t) {
             return overwrite(2, t.p(7) - 8, t.p(7) + 0x37, "the second-stage loader's stack", t.p(7));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.change(*this);
        const std::u16string expected = c.message(*this);

        EXPECT_EQ(check(), expected.empty());

        if (expected.empty())
            EXPECT_TRUE(log.entries().empty()) << log.utf8();
        else
            EXPECT_EQ(log.entries(), std::vector<std::u16string>{expected});
    }
}

TEST_P(HandOverCheckTest, RefusesAListItCannotFollow) {
    struct Case {
        const char* name;
        std::function<void(HandOverCheckTest&)> change;
        std::function<std::uint32_t(HandOverCheckTest&)> brokenAt;
    };
    const Case cases[] = {
        {"a link outside the pool",
         [](HandOverCheckTest& t) { t.entries[1].next = t.destination; },
         [](HandOverCheckTest& t) { return t.destination; }},
        {"a link not on a word",
         [](HandOverCheckTest& t) { t.entries[0].next = t.p(1) + 2; },
         [](HandOverCheckTest& t) { return t.p(1) + 2; }},
        {"a link that runs past its page",
         [](HandOverCheckTest& t) { t.entries[0].next = t.p(1) + 0xFF8; },
         [](HandOverCheckTest& t) { return t.p(1) + 0xFF8; }},
        {"a head outside the pool",
         [](HandOverCheckTest& t) { t.plan.pageLinkPhys = t.destination; },
         [](HandOverCheckTest& t) { return t.destination; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.change(*this);

        EXPECT_FALSE(check());

        EXPECT_EQ(log.entries(), std::vector<std::u16string>{line("page link list is broken at 0x%08x.\n", c.brokenAt(*this))});
    }
}

TEST_P(HandOverCheckTest, RefusesAListThatNeverEnds) {
    entries[2].next = p(0);

    EXPECT_FALSE(check());

    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].rfind(u"page link list is broken at 0x", 0), 0u) << log.utf8();
}

TEST_P(HandOverCheckTest, ChecksDestinationsWhereThePxaLoaderFoldsThem) {
    // Outside RAM as written; on a pool page once folded into the first 16 MB of SDRAM.
    const std::uint32_t written = 0x0F000000 | (p(2) & 0x00FFFFFF);
    if (cpu.folds) {
        ASSERT_EQ(0xA0000000 | (written & 0x00FFFFFF), p(2));
    }
    entries[0].dst = written;

    EXPECT_FALSE(check());

    if (cpu.folds)
        EXPECT_EQ(log.entries(), std::vector<std::u16string>{overwrite(0, p(2), p(2) + 63, "a later list entry", p(2))});
    else  // where nothing folds it, the destination is no RAM at all
        EXPECT_EQ(log.entries(), std::vector<std::u16string>{line("destination 0x%08x-0x%08x is outside RAM (RAM: none).\n",
                                                                  written, written + 63)});
}

TEST_P(HandOverCheckTest, RefusesEntriesThatPlaceBytesOnTheSameMemory) {
    struct Case {
        const char* name;
        std::function<void(HandOverCheckTest&)> change;
        int first, second;  // the entries named, or -1 when the list is accepted
    };
    const Case cases[] = {
        {"one after the other", [](HandOverCheckTest&) {}, -1, -1},
        {"a later copy over an earlier one's last bytes",
         [](HandOverCheckTest& t) { t.entries[1].dst = t.destination + 60; }, 0, 1},
        {"a clear over the start of the first copy", [](HandOverCheckTest& t) { t.entries[2].dst = t.destination - 4; },
         0, 2},
        {"a clear inside an earlier copy",
         [](HandOverCheckTest& t) {
             t.entries[2].dst = t.destination + 64 + 8;
             t.entries[2].size = 8;
         },
         1, 2},
        {"an odd size whose last word the next entry writes again",
         [](HandOverCheckTest& t) {
             t.entries[0].size = 61;
             t.entries[1].dst = t.destination + 64;
         },
         -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.change(*this);
        std::u16string expected;
        if (c.first >= 0) {
            const PageLink& a = entries[c.first];
            const PageLink& b = entries[c.second];
            expected = line("page links %d and %d: destinations 0x%08x-0x%08x and 0x%08x-0x%08x overlap.\n", c.first,
                            c.second, a.dst, a.dst + a.size - 1, b.dst, b.dst + b.size - 1);
        }

        EXPECT_EQ(check(), expected.empty());

        if (expected.empty())
            EXPECT_TRUE(log.entries().empty()) << log.utf8();
        else
            EXPECT_EQ(log.entries(), std::vector<std::u16string>{expected});
    }
}

TEST_P(HandOverCheckTest, ReadsOnlyTheEntriesARebuiltShortPoolWrote) {
    // A whole region's pool, then one on the same frames whose search stops at its
    // fourth page: what the rest of its table held must not be taken for pages of the list.
    ASSERT_TRUE(memory->buildPool(16 * PAGE, false));
    const std::uint64_t searched = device->faults().calls("LockPages");
    device->faults().failWhen("LockPages", [searched](const sim::FaultCall& call) { return call.index >= searched + 3; });
    ASSERT_TRUE(memory->buildPool(16 * PAGE, false));
    ASSERT_EQ(memory->mappedEntries(), 3u);
    writeLink(page(0).vaddr, {END, p(1) + 16, destination, 64});
    plan = {p(2), p(0), p(2), p(2), cpu.folds};
    log.clear();

    EXPECT_TRUE(quorvel::checkHandOver(*memory, plan, *consoleSlot)) << log.utf8();
}

// Handhelds of both families with a given amount of RAM, the CPU's banks registered.
using testing_support::PrintTo;
struct RamCase {
    const char* name;
    const CpuCase* cpu;
    std::uint32_t ramBytes;
    std::uint32_t dst;      // where the only entry clears 64 bytes
    std::string refusal;    // empty: accepted
};

class HandOverRamTest : public ArchTest, public ::testing::WithParamInterface<RamCase> {
public:
    HandOverRamTest() : ArchTest(*GetParam().cpu, withRam(GetParam())) {}

    static sim::DeviceSettings withRam(const RamCase& c) {
        sim::DeviceSettings settings = settingsFor(*c.cpu);
        settings.ram = {{c.cpu->banks[0], c.ramBytes}};
        return settings;
    }
};

TEST_P(HandOverRamTest, EveryDestinationLiesInPopulatedRam) {
    const RamCase& c = GetParam();
    ASSERT_TRUE(architecture->init());
    ASSERT_NO_FATAL_FAILURE(makePool(4));
    writeLink(page(0).vaddr, {END, quorvel::PAGE_LINK_ZERO, c.dst, 64});
    HandOverPlan plan{page(1).paddr, page(0).paddr, page(2).paddr, page(3).paddr, cpu.folds};
    log.clear();

    EXPECT_EQ(quorvel::checkHandOver(*memory, plan, *consoleSlot), c.refusal.empty());

    if (c.refusal.empty())
        EXPECT_TRUE(log.entries().empty()) << log.utf8();
    else
        EXPECT_EQ(log.utf8(), c.refusal);
}

INSTANTIATE_TEST_SUITE_P(
    Handhelds, HandOverRamTest,
    ::testing::Values(
        RamCase{"LinkedAt0", &SA11X0, 32u << 20, 0x00000000,
                "destination 0x00000000-0x0000003f is outside RAM (RAM: 0xc0000000-0xc1ffffff).\n"},
        RamCase{"InTheSecondBankOfA32MBHandheld", &SA11X0, 32u << 20, 0xC8000000,
                "destination 0xc8000000-0xc800003f is outside RAM (RAM: 0xc0000000-0xc1ffffff).\n"},
        RamCase{"AcrossTheTopOfRam", &SA11X0, 32u << 20, 0xC1FFFFE0,
                "destination 0xc1ffffe0-0xc200001f is outside RAM (RAM: 0xc0000000-0xc1ffffff).\n"},
        RamCase{"EndingAtTheTopOfRam", &SA11X0, 32u << 20, 0xC1FFFFC0, ""},
        RamCase{"AllOfA128MBBank", &SA11X0, 128u << 20, 0xC7FFFFC0, ""},
        RamCase{"FoldedBeyondAn8MBHandheld", &PXA2X0, 8u << 20, 0xC0C00000,
                "destination 0xa0c00000-0xa0c0003f is outside RAM (RAM: 0xa0000000-0xa07fffff).\n"},
        RamCase{"LinkedAt0FoldedIntoRam", &PXA2X0, 32u << 20, 0x00000000, ""}),
    ::testing::PrintToStringParamName());

// Where the loader will write a kernel's destinations, worked out before loading.
class PlaceDestinationsTest : public ArchTest {
protected:
    PlaceDestinationsTest() : ArchTest(SA11X0) {}
};

TEST_F(PlaceDestinationsTest, FoldsAndRefusesLayoutsThatLandOnThemselves) {
    using quorvel::AddressRange;
    using Ranges = std::vector<AddressRange>;
    struct Case {
        const char* name;
        bool folds;
        Ranges destinations;
        Ranges placed;         // when accepted: the pieces, then the kernel's first stack
        std::string refusal;   // empty: accepted
    };
    const Case cases[] = {
        {"kept as they are where nothing folds", false, {{0xC0200000, 0xC0202000}, {0xC0202000, 0xC0203000}},
         {{0xC0200000, 0xC0202000}, {0xC0202000, 0xC0203000}, {0xC0203000, 0xC0205000}}, ""},
        {"overlapping segments", false, {{0xC0200000, 0xC0202000}, {0xC0201000, 0xC0203000}}, {},
         "destinations 0xc0200000-0xc0201fff and 0xc0201000-0xc0202fff overlap.\n"},
        {"folded into the first 16 MB of SDRAM", true, {{0xC0200000, 0xC0202000}, {0x00300000, 0x00301000}},
         {{0xA0200000, 0xA0202000}, {0xA0300000, 0xA0301000}, {0xA0301000, 0xA0303000}}, ""},
        {"one destination across a 16 MB boundary, its tail folded round", true,
         {{0xC0200000, 0xC0202000}, {0xC0FFF000, 0xC1001000}}, {},
         "destination 0xc0fff000-0xc1000fff crosses 0xc1000000, where the loader folds it back into the same 16 MB.\n"},
        {"ending right at a 16 MB boundary", true, {{0xC0FFF000, 0xC1000000}},
         {{0xA0FFF000, 0xA1000000}, {0xA1000000, 0xA1002000}}, ""},
        {"two destinations that fold onto the same memory", true, {{0xC0200000, 0xC0202000}, {0xC1201000, 0xC1202000}},
         {}, "kernel layout 0xc0200000-0xc1201fff is longer than the 16 MB the loader folds it into.\n"},
        {"one destination longer than 16 MB", true, {{0xC0200000, 0xC1200001}}, {},
         "kernel layout 0xc0200000-0xc1200000 is longer than the 16 MB the loader folds it into.\n"},
        {"apart by more than 16 MB, yet folded apart", true, {{0xC0000000, 0xC0100000}, {0xC1800000, 0xC1900000}},
         {{0xA0000000, 0xA0100000}, {0xA0800000, 0xA0900000}, {0xA0900000, 0xA0902000}}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        Ranges ranges = c.destinations;

        EXPECT_EQ(quorvel::placeDestinations(ranges, c.folds, *consoleSlot), c.refusal.empty());

        EXPECT_EQ(log.utf8(), c.refusal);
        if (c.refusal.empty()) {
            ASSERT_EQ(ranges.size(), c.placed.size());
            for (std::size_t i = 0; i < ranges.size(); ++i) {
                EXPECT_EQ(ranges[i].start, c.placed[i].start) << i;
                EXPECT_EQ(ranges[i].end, c.placed[i].end) << i;
            }
        }
    }
}

// The sample kernel is linked at 0xC0200000; with the pool's third page committed
// there, the first copy would overwrite the list before the loader reads it.
class HandOverCheckJumpTest : public ArchTest {
protected:
    HandOverCheckJumpTest() : ArchTest(SA11X0) {}
};

TEST_F(HandOverCheckJumpTest, AKernelDestinationOnAPoolPageStopsTheJump) {
    SampleBoot boot;
    ASSERT_NO_FATAL_FAILURE(prepareSampleBoot(boot, {0xC1000000, 0xC1001000, 0xC0200000}));
    PageLink first;
    std::string bytes = physical(boot.head, sizeof first);
    std::memcpy(&first, bytes.data(), sizeof first);
    ASSERT_EQ(first.dst, 0xC0200000u);
    const std::uint32_t stack = nextBackPage().paddr;
    log.clear();

    std::optional<sim::HandOverResult> result = sim::runBoot([&] { architecture->jump(boot.parameterPage, boot.head); });

    EXPECT_FALSE(result) << result->describe();
    EXPECT_FALSE(device->cpu().handOver);
    EXPECT_EQ(device->faults().calls("FlatJump_sa11x0"), 0u);
    EXPECT_FALSE(device->cpu().kernelMode);
    EXPECT_EQ(device->cpu().dataCacheCleans, 0u);
    EXPECT_EQ(log.entries(),
              (std::vector<std::u16string>{
                  line("sp for bootloader = %08x + %08x = %08x\n", stack, PAGE, stack + PAGE),
                  overwrite(0, 0xC0200000, 0xC0200000 + ((first.size + 3) & ~3u) - 1, "a later list entry", 0xC0200000)}))
        << log.utf8();
}

}  // namespace
