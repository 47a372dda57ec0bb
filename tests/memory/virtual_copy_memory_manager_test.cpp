// Physical addresses found by searching physical memory, 4 MB window by window,
// for a random signature.
#include <cstdio>
#include <string>
#include <vector>

#include "memory/virtual_copy_memory_manager.h"
#include "memory_fixture.h"
#include "platform/address.h"

using namespace quorvel;

namespace {

using Lines = std::vector<std::u16string>;
constexpr std::uint32_t MB = 0x100000;

sim::DeviceSettings twoBanks() {
    sim::DeviceSettings settings;
    settings.ram = {{0xC0000000, 128 * MB}, {0xC8000000, 128 * MB}};
    return settings;
}

class VirtualCopyTest : public MemoryTest {
protected:
    explicit VirtualCopyTest(sim::DeviceSettings settings = {}) : MemoryTest(std::move(settings)) {}

    // Committed pages placed at the given frames, in order.
    std::uint32_t pagesAt(const std::vector<std::uint32_t>& frames) {
        std::vector<sim::PhysicalAddress> preferred;
        for (std::uint32_t frame : frames) preferred.emplace_back(frame);
        device->memory().preferFrames(preferred);
        void* region = ce::VirtualAlloc(nullptr, static_cast<ce::DWORD>(frames.size() * 4096), ce::MEM_COMMIT,
                                        ce::PAGE_READWRITE | ce::PAGE_NOCACHE);
        EXPECT_NE(region, nullptr);
        for (std::uint32_t i = 0; i < frames.size(); ++i)
            EXPECT_EQ(physicalOf(ce::addressOf(region) + i * 4096), frames[i]);
        return ce::addressOf(region);
    }
    std::uint32_t word(std::uint32_t vaddr) { return *reinterpret_cast<std::uint32_t*>(ce::pointerAt(vaddr)); }

    // The window address of the last search, as its release saw it.
    std::uint32_t lastWindow = 0;
    void watchWindows() {
        device->faults().failWhen("VirtualFree", [this](const sim::FaultCall& call) {
            lastWindow = call.address;
            return false;
        });
    }

    VirtualCopyMemoryManager manager{consoleSlot, 4096};
};

class TwoBankTest : public VirtualCopyTest {
protected:
    TwoBankTest() : VirtualCopyTest(twoBanks()) {
        manager.addBank(0xC0000000, 128 * MB);
        manager.addBank(0xC8000000, 128 * MB);
        log.clear();
    }
};

TEST_F(VirtualCopyTest, AnnouncesItself) {
    EXPECT_EQ(log.entries(), Lines{u"MemoryManager: VirtualCopy\n"});
    EXPECT_EQ(manager.searchHint, 0u);
}

TEST_F(TwoBankTest, SearchesBankByBankThenFromTheHint) {
    std::uint32_t pages = pagesAt({0xC8123000, 0xC8124000});
    std::uint64_t copies = device->faults().calls("VirtualCopy");
    EXPECT_EQ(manager.lookupPhysical(pages), 0xC8123000u);
    EXPECT_EQ(device->faults().calls("VirtualCopy") - copies, 33u);  // 32 windows of the first bank, 1 of the second
    EXPECT_EQ(manager.searchHint, 0xC8000000u);
    EXPECT_EQ(word(pages), SIGNATURE_CLEARED);
    EXPECT_EQ(word(pages + 4), SIGNATURE_CLEARED);

    copies = device->faults().calls("VirtualCopy");
    EXPECT_EQ(manager.lookupPhysical(pages + 4096), 0xC8124000u);
    EXPECT_EQ(device->faults().calls("VirtualCopy") - copies, 1u);
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(TwoBankTest, AHintIntoTheWrongBankIsDropped) {
    std::uint32_t pages = pagesAt({0xC8123000, 0xC0401000});
    ASSERT_EQ(manager.lookupPhysical(pages), 0xC8123000u);
    std::uint64_t copies = device->faults().calls("VirtualCopy");
    EXPECT_EQ(manager.lookupPhysical(pages + 4096), 0xC0401000u);
    // The hinted bank from the hint to its end, then the first bank from its start.
    EXPECT_EQ(device->faults().calls("VirtualCopy") - copies, 32u + 2u);
    EXPECT_EQ(manager.searchHint, 0xC0400000u);
}

TEST_F(TwoBankTest, ASignatureFoundNowhereIsNoAddress) {
    // A page outside every bank the manager knows.
    VirtualCopyMemoryManager oneBank(consoleSlot, 4096);
    oneBank.addBank(0xC0000000, 8 * MB);
    std::uint32_t page = pagesAt({0xC8000000});
    log.clear();
    EXPECT_EQ(oneBank.lookupPhysical(page), 0xFFFFFFFFu);
    EXPECT_EQ(device->faults().calls("VirtualCopy"), 2u);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_EQ(word(page), SIGNATURE_CLEARED);
    EXPECT_EQ(word(page + 4), SIGNATURE_CLEARED);
}

TEST_F(VirtualCopyTest, TheReservedWordIsNeverASignature) {
    manager.addBank(0xC0000000, 32 * MB);
    std::uint32_t page = pagesAt({0xC0800000});
    for (std::uint32_t value : {SIGNATURE_CLEARED, 0x12345678u, SIGNATURE_CLEARED, SIGNATURE_CLEARED, 0x9ABCDEF0u})
        device->scriptRandom(value);
    EXPECT_EQ(manager.lookupPhysical(page), 0xC0800000u);
    EXPECT_EQ(manager.magic0, 0x12345678u);
    EXPECT_EQ(manager.magic1, 0x9ABCDEF0u);
    EXPECT_EQ(word(page), SIGNATURE_CLEARED);
    EXPECT_EQ(word(page + 4), SIGNATURE_CLEARED);
}

// Frames from the top of RAM downwards lie in few 4 MB windows, which keeps the search
// short; scattered frames would make it scan most of RAM for every page.
class VirtualCopyTopDownTest : public VirtualCopyTest {
protected:
    VirtualCopyTopDownTest() : VirtualCopyTest(topDown()) {}
    static sim::DeviceSettings topDown() {
        sim::DeviceSettings settings;
        settings.frameOrder = sim::FrameOrder::TopDown;
        return settings;
    }
};

TEST_F(VirtualCopyTopDownTest, AgreesWithTheDeviceOverAWholePool) {
    manager.addBank(0xC0000000, 32 * MB);
    log.clear();
    ASSERT_EQ(manager.buildPool(24 * 4096, false), 1);
    EXPECT_EQ(log.entries(),
              (Lines{u"address translation table 24 pages. (0xc0 bytes)\n", u"allocated 24 page. mapped 24 page.\n"}));
    for (int i = 0; i < 24; ++i) {
        const TranslationEntry& entry = manager.translationTable()[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(entry.paddr, physicalOf(entry.vaddr));
        EXPECT_EQ(word(entry.vaddr), SIGNATURE_CLEARED);
    }
}

TEST_F(VirtualCopyTest, WindowFailuresAreReported) {
    manager.addBank(0xC0000000, 32 * MB);
    std::uint32_t page = pagesAt({0xC0002000});
    auto line = [](const char* format, std::uint32_t a, std::uint32_t b) {
        char text[96];
        std::snprintf(text, sizeof text, format, a, b);
        return std::u16string(text, text + std::char_traits<char>::length(text));
    };
    watchWindows();

    // No window at all.
    device->faults().failOnCall("VirtualAlloc", device->faults().calls("VirtualAlloc"));
    log.clear();
    EXPECT_EQ(manager.lookupPhysical(page), 0xFFFFFFFFu);
    EXPECT_EQ(log.entries(), Lines{u"can't allocate virtual memory.\n"});

    // The window cannot be mapped: the bank's search ends there.
    device->faults().failOnCall("VirtualCopy", device->faults().calls("VirtualCopy"));
    log.clear();
    EXPECT_EQ(manager.lookupPhysical(page), 0xFFFFFFFFu);
    EXPECT_EQ(log.entries(), Lines{line("can't map physical addr 0x%08x(->0x%08x)\n", lastWindow, 0xC0000000)});

    // The window cannot be decommitted: what it showed is not trusted.
    device->faults().failOnCall("VirtualFree", device->faults().calls("VirtualFree"));
    log.clear();
    EXPECT_EQ(manager.lookupPhysical(page), 0xFFFFFFFFu);
    EXPECT_EQ(log.entries(), Lines{line("can't decommit addr 0x%08x(->0x%08x)\n", lastWindow, 0xC0000000)});
    EXPECT_EQ(manager.searchHint, 0u);

    // The window cannot be released: the page is found all the same.
    device->faults().failOnCall("VirtualFree", device->faults().calls("VirtualFree") + 1);
    log.clear();
    EXPECT_EQ(manager.lookupPhysical(page), 0xC0002000u);
    EXPECT_EQ(log.entries(), Lines{u"can't release memory\n"});
    EXPECT_EQ(word(page), SIGNATURE_CLEARED);
}

}  // namespace
