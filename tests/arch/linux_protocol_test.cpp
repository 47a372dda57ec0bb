// The boot information page for Linux's protocol: the call record the second-stage
// loader turns into r0 = 0, r1 = machine number, r2 = tag list, the list behind it with
// the RAM the handheld populates and the initrd where the loader puts it (folded on the
// PXA-2x0), and refusal, with nothing taken, of a line or list that does not fit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arch/arm/linux_tags.h"
#include "arch_fixture.h"
#include "boot/boot_info.h"
#include "boot/kernel_protocol.h"

using namespace arch_test;

namespace {

// A loader that has placed nothing and names its entry.
class EntryOnly : public quorvel::Loader {
public:
    using Loader::Loader;
    std::uint32_t neededMemory() override { return 0; }
    int load() override { return 1; }
    std::uint32_t entryAddress() override { return 0xC0008000; }
};

class LinuxProtocolTest : public ArchTest, public ::testing::WithParamInterface<const CpuCase*> {
protected:
    LinuxProtocolTest() : ArchTest(*GetParam()) {}
    void SetUp() override {
        ASSERT_TRUE(architecture->init());
        ASSERT_NO_FATAL_FAILURE(makePool(4));
        quorvel::theBootMenu().platform = cpu.platform;
        log.clear();
    }
    EntryOnly kernel{consoleSlot, memoryManagerSlot};
};

INSTANTIATE_TEST_SUITE_P(Cpus, LinuxProtocolTest, ::testing::Values(&SA11X0, &PXA2X0), cpuName);

TEST_P(LinuxProtocolTest, TheCallRecordGivesLinuxsRegistersAndTheListFollowsIt) {
    quorvel::LinuxBoot request;
    request.machineNumber = 713;
    request.commandLine = "root=/dev/ram0 console=ttyS0";
    request.hasInitrd = true;
    request.initrdStart = 0xC0400000;  // as an SA-11x0 address: the PXA-2x0 folds it
    request.initrdSize = 70001;
    const quorvel::TranslationEntry taken = nextBackPage();
    const std::uint32_t p = architecture->fillLinuxParameterPage(kernel, request);
    ASSERT_EQ(p, taken.paddr) << sim::toUtf8(log.text());
    EXPECT_EQ(architecture->protocol, quorvel::KernelProtocol::Linux);

    quorvel::KernelCallRecord call;
    std::memcpy(&call, ce::pointerAt(taken.vaddr), sizeof call);
    EXPECT_EQ(call.entry, 0xC0008000u);
    EXPECT_EQ(call.argc, 0u) << "r0";
    EXPECT_EQ(call.argv, 713u) << "r1";
    EXPECT_EQ(call.bootInfo, p + 16) << "r2";

    std::vector<quorvel::ReadTag> tags;
    std::string why;
    const std::string page = physical(p, PAGE);
    ASSERT_TRUE(quorvel::readTagList(reinterpret_cast<const std::uint8_t*>(page.data()) + 16, PAGE - 16, tags, why)) << why;
    ASSERT_GE(tags.size(), 5u);
    EXPECT_EQ(tags[0].tag, quorvel::ATAG_CORE);
    // The populated 32 MB from the first bank's base, as the kernel sees it.
    EXPECT_EQ(tags[1].tag, quorvel::ATAG_MEM);
    std::uint32_t mem[2];
    std::memcpy(mem, tags[1].body.data(), 8);
    EXPECT_EQ(mem[0], 32u << 20);
    EXPECT_EQ(mem[1], cpu.banks[0]);
    std::uint32_t initrd[2] = {};
    for (const quorvel::ReadTag& t : tags)
        if (t.tag == quorvel::ATAG_INITRD2) std::memcpy(initrd, t.body.data(), 8);
    EXPECT_EQ(initrd[0], cpu.folds ? 0xA0400000u : 0xC0400000u);
    EXPECT_EQ(initrd[1], 70001u);
    EXPECT_EQ(tags.back().tag, quorvel::ATAG_NONE);
    EXPECT_TRUE(log.contains(u"linux: ATAG_CMDLINE \"root=/dev/ram0 console=ttyS0\"\n"));
}

// Nothing is cut: a command line Linux would cut, or a list its page cannot hold, fails
// the page with a line that says so, and no page is taken for it.
TEST_P(LinuxProtocolTest, ALineOrListThatDoesNotFitIsRefusedWhole) {
    struct Case {
        const char* name;
        std::size_t lineLength;
        std::uint32_t pageSize;
        const char16_t* said;
    };
    const Case cases[] = {
        {"1024 characters", 1024, PAGE, u"kernel command line of 1024 bytes is longer than the 1023 Linux takes.\n"},
        {"a 1000-character line in a 1 KB page", 1000, 1024, u"tag list of 1056 bytes does not fit in the 1008 bytes of its page.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.pageSize != PAGE) {
            makeMemory(c.pageSize);
            ASSERT_TRUE(architecture->init());
            ASSERT_NO_FATAL_FAILURE(makePool(4));
        }
        log.clear();
        const int before = memory->poolCount();
        std::uint32_t v, p;
        quorvel::LinuxBoot request;
        request.machineNumber = 146;
        request.commandLine = std::string(c.lineLength, 'x');
        EXPECT_EQ(architecture->fillLinuxParameterPage(kernel, request), quorvel::NO_ADDRESS);
        EXPECT_TRUE(log.contains(c.said)) << sim::toUtf8(log.text());
        EXPECT_EQ(architecture->protocol, quorvel::KernelProtocol::Native);
        // The page is still there for someone else.
        int left = 0;
        while (memory->takeBackPage(v, p)) ++left;
        EXPECT_EQ(left, before);
    }
}

}  // namespace
